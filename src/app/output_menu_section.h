#pragma once

#include <QString>
#include <functional>
#include <map>
#include <string>

class Deck;
class QMenu;

// The part of a deck's menu that says where its sound goes: "Default output", each output the
// deck offers by its description, and the chosen one even while it is not there; the deck's
// current one checked. Where the deck offers no choice, the default alone and why.
class OutputMenuSection {
public:
    // `choose` gets the name picked, "" for the default.
    OutputMenuSection(const Deck& deck, std::function<void(const std::string&)> choose);

    // Lists the outputs as the deck has them now.
    void addTo(QMenu& menu);

private:
    QString describe(const std::string& name) const;

    const Deck& deck;
    std::function<void(const std::string&)> choose;
    // Descriptions seen while their outputs were there, so that one that went away is still
    // shown as the user knew it.
    std::map<std::string, std::string> descriptions;
};
