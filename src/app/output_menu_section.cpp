#include "app/output_menu_section.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "components/deck.h"
#include "shared/file_name_text.h"

namespace {

// A description shown as it reads: an '&' is itself, not a mnemonic, and a tab or line break
// does not split the item.
QString itemText(const std::string& bytes) {
    QString text = fileNameText(bytes);
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r') c = u' ';
    return text.replace(u'&', QStringLiteral("&&"));
}

}  // namespace

OutputMenuSection::OutputMenuSection(const Deck& deck,
                                     std::function<void(const std::string&)> choose)
    : deck(deck), choose(std::move(choose)) {}

QString OutputMenuSection::describe(const std::string& name) const {
    const auto known = descriptions.find(name);
    return itemText(known != descriptions.end() && !known->second.empty() ? known->second : name);
}

void OutputMenuSection::addTo(QMenu& menu) {
    const std::string current = deck.outputDevice();
    const bool offered = deck.offersOutputChoice();
    auto* group = new QActionGroup(&menu);
    group->setExclusive(true);
    auto add = [&](const QString& text, const std::string& name) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(name == current);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &menu, [this, name] { choose(name); });
    };

    add(QStringLiteral("Default output"), {});
    bool currentListed = current.empty();
    if (offered) {
        for (const OutputDevice& device : deck.outputDevices()) {
            descriptions[device.name] = device.description;
            add(describe(device.name), device.name);
            currentListed = currentListed || device.name == current;
        }
    }
    // A choice the deck still holds to, so that the user sees where the sound is meant to go
    // and can leave it.
    if (!currentListed) add(describe(current) + QStringLiteral(" (not connected)"), current);
    if (offered) return;

    // Without a server there is only the system's default device, and a deck held to an output
    // of the server's waits for it there rather than play on that device.
    menu.addSeparator();
    for (const QString& why :
         {QStringLiteral("No sound server answers:"),
          current.empty() ? QStringLiteral("sound goes to the system's default device")
                          : QStringLiteral("the deck waits for its output until one does")})
        menu.addAction(why)->setEnabled(false);
}
