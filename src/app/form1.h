#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/form1_controls.h"
#include "components/components.h"
#include "shared/settings_paths.h"
#include "shared/shared_state.h"

class ClockAnnouncer;
class CrossfadeSettings;
class DeckMenu;
class Deck1Transport;
class Deck2Transport;
class ErrorList;
class JoystickFader;
class JumpWindow;
class KeyboardAccess;
class LabelTint;
class LivePlaylist;
class PaintPacer;
class MixerDiscovery;
class MixerSliders;
class ObservedDeck;
class OutputSettings;
class LevellingSettings;
class PathLookup;
class PathOpening;
class PlaybackWatch;
class PlaylistBuilding;
class PlaylistNavigation;
class RemoteControl;
class ResumeSettings;
class ResumeStart;
class SettingsLifecycle;
class SettingsWriter;
class Startup;
class Tick;
class TimeDisplay;
class WindowRefresh;

// The player's one window: owns the controls and the shared state, and connects each
// control's event to its handler. Form_Load runs in the constructor, before the window shows.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(Components components, SettingsPaths settingsFiles);
    ~Form1() override;

    const Form1Controls& controls() const { return ui; }
    SharedState& state() { return shared; }

    void Form_Activate();
    void Form_Unload();
    void UpdateForm1Once();
    void PlayTheNextFile();
    void Timer1_Timer();

    // The player as a remote control on the desktop drives and shows it.
    RemoteControl& remote() { return *remoteControl; }

    // A folder or an .mp3 file from outside (command line, drop, another start): "Play Dir"
    // or "Play File" on it without the dialog; anything else adds an error line.
    void openPath(const std::string& path);
    // Where the user chose to resume, puts both decks back where the player last ended, once
    // the settings are read. main calls it once at start, unless a path was given: that wins.
    void resumeAtStart();

    // A line of the "Errors:" list.
    void addErrorLine(const QString& line);
    // Whether the "Errors:" list shows on screen: the window is shown, not minimised, and
    // big enough to uncover part of the list.
    bool errorListInView() const;

    // Runs at unload once the last settings are handed to their writer, before they are waited
    // for: what must go at once (the bus name, the window) goes here.
    void setOnClosing(std::function<void()> action) { onClosing = std::move(action); }
    // Runs after Form_Unload has saved the settings, or given up on a disk that does not
    // answer; main ends the program there.
    void setOnUnloaded(std::function<void()> action) { onUnloaded = std::move(action); }

    // What follows the playlist's folder.
    const LivePlaylist& livePlaylist() const { return *live; }

    // Every settings save goes through it, in order, off the UI thread.
    SettingsWriter& settingsWriter() { return *writer; }

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    // A folder or an .mp3 file dropped from a file manager: as if given on the command line.
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void connectHandlers();
    void addDeckMenus();
    void openJumpWindow();

    Components parts;
    SharedState shared;
    Form1Controls ui;
    std::function<void()> onClosing;
    std::function<void()> onUnloaded;
    bool unloaded = false;

    std::unique_ptr<ErrorList> errorList;
    std::unique_ptr<SettingsWriter> writer;  // before the settings that queue saves on it
    std::unique_ptr<ObservedDeck> observedDeck1;
    std::unique_ptr<ObservedDeck> observedDeck2;  // its file's full path, kept at the end
    std::unique_ptr<OutputSettings> outputSettings;
    std::unique_ptr<LevellingSettings> levellingSettings;
    std::unique_ptr<CrossfadeSettings> crossfadeSettings;
    std::unique_ptr<ResumeSettings> resumeSettings;
    std::unique_ptr<MixerDiscovery> mixerDiscovery;
    std::unique_ptr<Startup> startup;
    std::unique_ptr<SettingsLifecycle> settings;
    std::unique_ptr<WindowRefresh> refresh;
    std::unique_ptr<Deck1Transport> deck1Transport;
    std::unique_ptr<Deck2Transport> deck2Transport;
    std::unique_ptr<PlaylistNavigation> navigation;
    std::unique_ptr<PathLookup> lookup;
    std::unique_ptr<LivePlaylist> live;
    std::unique_ptr<PlaylistBuilding> building;
    std::unique_ptr<PathOpening> pathOpening;
    std::unique_ptr<ResumeStart> resumeStart;
    std::unique_ptr<MixerSliders> sliders;
    std::unique_ptr<JoystickFader> joystickFader;
    std::unique_ptr<PlaybackWatch> watch;
    std::unique_ptr<TimeDisplay> deck1Display;
    std::unique_ptr<TimeDisplay> deck2Display;
    std::unique_ptr<LabelTint> tint;
    std::unique_ptr<PaintPacer> pacer;
    std::unique_ptr<ClockAnnouncer> announcer;
    std::unique_ptr<Tick> tick;
    std::unique_ptr<RemoteControl> remoteControl;
    std::unique_ptr<KeyboardAccess> keyboard;
    std::unique_ptr<DeckMenu> deck1Menu;
    std::unique_ptr<DeckMenu> deck2Menu;
    JumpWindow* jumpWindow = nullptr;  // made at its first opening; a child window of this one
};
