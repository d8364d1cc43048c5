#include "playback/entry_filter.h"

#include <QChar>
#include <QStringView>
#include <algorithm>
#include <numeric>

namespace {
quint64 characterClassesOf(QStringView text) {
    quint64 classes = 0;
    for (const QChar unit : text) classes |= quint64(1) << (unit.unicode() % 64);
    return classes;
}
}  // namespace

QString EntryFilter::fold(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString bare;
    bare.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        const QChar unit = decomposed[i];
        // Marks outside the basic plane come as surrogate pairs: judge the whole code point.
        if (unit.isHighSurrogate() && i + 1 < decomposed.size() &&
            decomposed[i + 1].isLowSurrogate()) {
            const char32_t point = QChar::surrogateToUcs4(unit, decomposed[i + 1]);
            if (QChar::category(point) != QChar::Mark_NonSpacing) {
                bare.append(unit);
                bare.append(decomposed[i + 1]);
            }
            ++i;
            continue;
        }
        if (unit.category() != QChar::Mark_NonSpacing) bare.append(unit);
    }
    // Qt folds one character to one; the one common full folding, "ß" to "ss", lets a name
    // be found as spelt either way.
    return bare.toCaseFolded().replace(QChar(0x00DF), QStringLiteral("ss"));
}

void EntryFilter::setEntries(const QStringList& texts) {
    folded.clear();
    characterClasses.clear();
    folded.reserve(size_t(texts.size()));
    characterClasses.reserve(size_t(texts.size()));
    for (const QString& text : texts) {
        folded.push_back(fold(text));
        characterClasses.push_back(characterClassesOf(folded.back()));
    }
}

std::vector<int> EntryFilter::matches(const QString& query) const {
    const QString foldedQuery = fold(query);
    std::vector<QStringView> words;
    const QStringView rest(foldedQuery);
    for (qsizetype i = 0, start = -1; i <= rest.size(); ++i) {
        const bool gap = i == rest.size() || rest[i].isSpace();
        if (!gap && start < 0) start = i;
        if (gap && start >= 0) {
            words.push_back(rest.sliced(start, i - start));
            start = -1;
        }
    }
    std::vector<int> found;
    if (words.empty()) {
        found.resize(folded.size());
        std::iota(found.begin(), found.end(), 0);
        return found;
    }
    // The longest word first: it rules out the most entries soonest.
    std::sort(words.begin(), words.end(),
              [](QStringView a, QStringView b) { return a.size() > b.size(); });
    quint64 wordClasses = 0;
    for (const QStringView word : words) wordClasses |= characterClassesOf(word);
    for (int index = 0; index < int(folded.size()); ++index) {
        if (wordClasses & ~characterClasses[size_t(index)]) continue;
        const QString& entry = folded[size_t(index)];
        if (std::all_of(words.begin(), words.end(),
                        [&entry](QStringView word) { return entry.contains(word); }))
            found.push_back(index);
    }
    return found;
}
