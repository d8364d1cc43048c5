#include "app/form1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <string>
#include <vector>

#include "app/control_names.h"
#include "app/crossfade_settings.h"
#include "app/deck_menu.h"
#include "app/error_list.h"
#include "app/jump_window.h"
#include "app/keyboard_access.h"
#include "app/levelling_settings.h"
#include "app/observed_deck.h"
#include "app/output_settings.h"
#include "app/remote_control.h"
#include "app/resume_settings.h"
#include "app/settings_lifecycle.h"
#include "app/settings_writer.h"
#include "app/startup.h"
#include "app/uri_drop.h"
#include "components/error_sink.h"
#include "components/mixer.h"
#include "mixer/mixer_discovery.h"
#include "mixer/mixer_sliders.h"
#include "monitor/clock_announcer.h"
#include "monitor/joystick_fader.h"
#include "monitor/label_tint.h"
#include "monitor/paint_pacer.h"
#include "monitor/playback_watch.h"
#include "monitor/tick.h"
#include "monitor/time_display.h"
#include "playback/deck1_transport.h"
#include "playback/deck2_transport.h"
#include "playback/live_playlist.h"
#include "playback/path_lookup.h"
#include "playback/path_opening.h"
#include "playback/playlist_building.h"
#include "playback/playlist_navigation.h"
#include "playback/resume_start.h"
#include "playback/window_refresh.h"

Form1::Form1(Components components, SettingsPaths settingsFiles)
    : parts(components), ui(buildForm1Controls(this)) {
    errorList = std::make_unique<ErrorList>(ui.List3);
    writer = std::make_unique<SettingsWriter>(parts.errors);
    observedDeck1 = std::make_unique<ObservedDeck>(parts.MediaPlayer1);
    ObservedDeck& deck1 = *observedDeck1;
    observedDeck2 = std::make_unique<ObservedDeck>(parts.MediaPlayer2);
    Deck& deck2 = *observedDeck2;
    // The sound server is being reached already: the sooner a deck knows its output, the
    // sooner its stream can go there.
    outputSettings = std::make_unique<OutputSettings>(settingsFiles, *writer, parts.errors);
    auto giveStoredOutput = [this](int number, Deck& deck) {
        const std::string stored = outputSettings->stored(number);
        if (!stored.empty()) deck.chooseOutputDevice(stored);
    };
    levellingSettings = std::make_unique<LevellingSettings>(settingsFiles, *writer);
    auto giveStoredLevelling = [this](int number, Deck& deck) {
        const Deck::Levelling stored = levellingSettings->stored(number);
        if (stored != Deck::Levelling::Off)
            deck.setLevelling(stored, levellingSettings->preampDb());
    };
    resumeSettings = std::make_unique<ResumeSettings>(settingsFiles, *writer);
    giveStoredOutput(1, deck1);
    giveStoredOutput(2, deck2);
    giveStoredLevelling(1, deck1);
    giveStoredLevelling(2, deck2);
    crossfadeSettings = std::make_unique<CrossfadeSettings>(settingsFiles, *writer);
    deck1.setCrossfade(crossfadeSettings->stored());

    mixerDiscovery = std::make_unique<MixerDiscovery>(ui.List1, ui.ListView1, shared);
    startup = std::make_unique<Startup>(
        Startup::Controls{ui.ListView1, ui.VScroll1, ui.VScroll2, ui.Label13, ui.Label12,
                          ui.Label15, ui.Label10, ui.Label19},
        shared, parts.BWMixer1);
    settings = std::make_unique<SettingsLifecycle>(
        SettingsLifecycle::Controls{this, ui.Combo1, ui.VScroll1, ui.VScroll2}, shared,
        std::move(settingsFiles), *writer);
    refresh = std::make_unique<WindowRefresh>(
        WindowRefresh::Controls{this, ui.List2, ui.Label2, ui.Label11, ui.Label19, ui.Label14},
        shared, deck1, deck2);
    deck1Transport = std::make_unique<Deck1Transport>(shared, deck1, deck2, *refresh);
    deck2Transport = std::make_unique<Deck2Transport>(shared, deck1, deck2, *refresh);
    navigation = std::make_unique<PlaylistNavigation>(ui.List4, shared, deck1, deck2, *refresh,
                                                      parts.errors);
    lookup = std::make_unique<PathLookup>(parts.errors);
    live = std::make_unique<LivePlaylist>(ui.List4, shared, deck1, *navigation, *refresh,
                                          parts.errors);
    building = std::make_unique<PlaylistBuilding>(ui.List4, shared, deck1, parts.CommonDialog1,
                                                  parts.CommonDialog2, *refresh, *lookup, *live,
                                                  parts.errors);
    pathOpening = std::make_unique<PathOpening>(*building, *lookup, parts.errors);
    resumeStart = std::make_unique<ResumeStart>(shared, deck1, deck2, *building, *lookup, *refresh,
                                                parts.errors);
    sliders = std::make_unique<MixerSliders>(
        MixerSliders::Controls{ui.VScroll1, ui.VScroll2, ui.VScroll3, ui.VScroll4, ui.VScroll5,
                               ui.VScroll6},
        shared, parts.BWMixer1, deck1, deck2, parts.errors);
    joystickFader =
        std::make_unique<JoystickFader>(JoystickFader::Controls{ui.VScroll5, ui.VScroll6},
                                        parts.joystick, deck1, deck2, *navigation, parts.errors);
    watch = std::make_unique<PlaybackWatch>(shared, deck1, *navigation, parts.errors);
    pacer = std::make_unique<PaintPacer>();
    deck1Display = std::make_unique<TimeDisplay>(
        TimeDisplay::Controls{ui.Slider1, ui.Label13, ui.Label15}, deck1, *pacer);
    deck2Display = std::make_unique<TimeDisplay>(
        TimeDisplay::Controls{ui.Slider2, ui.Label12, ui.Label10}, deck2, *pacer);
    tint = std::make_unique<LabelTint>(LabelTint::Controls{ui.VScroll5, ui.VScroll6, ui.Label15,
                                                           ui.Label10, ui.Label2, ui.Label11},
                                       *pacer);
    announcer = std::make_unique<ClockAnnouncer>(
        std::vector<QLabel*>{ui.Label15, ui.Label13, ui.Label10, ui.Label12});
    tick = std::make_unique<Tick>(ui.Check1, ui.Label22,
                                  Tick::Steps{*joystickFader, *watch, *deck1Display, *deck2Display,
                                              *tint, *pacer, *announcer});
    remoteControl = std::make_unique<RemoteControl>(
        RemoteControl::Parts{this, ui.VScroll5, shared, deck1, deck2, *deck1Transport, *navigation,
                             *pathOpening, *sliders});

    connectHandlers();
    nameForm1Controls(this, ui);
    keyboard =
        std::make_unique<KeyboardAccess>(KeyboardAccess::Parts{this, ui, *remoteControl,
                                                               [this] {
                                                                   navigation->List4_DblClick();
                                                                   remoteControl->checkForChange();
                                                               },
                                                               [this] { openJumpWindow(); }});
    addDeckMenus();
    setAcceptDrops(true);
    parts.BWMixer1.setEventHandler(mixerDiscovery.get());
    startup->Form_Load();
    ui.Timer1->start();
}

Form1::~Form1() {
    ui.Timer1->stop();
    parts.BWMixer1.setEventHandler(nullptr);
}

void Form1::connectHandlers() {
    auto onClick = [this](QPushButton* button, auto handler) {
        connect(button, &QPushButton::clicked, this, handler);
    };
    onClick(ui.Command1, [this] { deck1Transport->Command1_Click(); });
    onClick(ui.Command3, [this] { deck1Transport->Command3_Click(); });
    onClick(ui.Command4, [this] { deck1Transport->Command4_Click(); });
    onClick(ui.Command6, [this] { building->Command6_Click(); });
    onClick(ui.Command2, [this] { building->Command2_Click(); });
    onClick(ui.Command10, [this] { navigation->Command10_Click(); });
    onClick(ui.Command11, [this] { navigation->Command11_Click(); });
    onClick(ui.Command7, [this] { navigation->Command7_Click(); });
    onClick(ui.Command5, [this] { navigation->Command5_Click(); });
    onClick(ui.Command13, [this] { deck2Transport->Command13_Click(); });
    onClick(ui.Command14, [this] { deck2Transport->Command14_Click(); });
    onClick(ui.Command15, [this] { deck2Transport->Command15_Click(); });
    connect(ui.List4, &QListWidget::itemDoubleClicked, this,
            [this] { navigation->List4_DblClick(); });

    // Only the user's drag acts on the mixer bars; arrows, the trough and values set by the
    // program do not.
    auto onDrag = [this](QScrollBar* bar, auto handler) {
        connect(bar, &QScrollBar::sliderMoved, this, handler);
    };
    onDrag(ui.VScroll1, [this] { sliders->VScroll1_Scroll(); });
    onDrag(ui.VScroll2, [this] { sliders->VScroll2_Scroll(); });
    onDrag(ui.VScroll3, [this] { sliders->VScroll3_Scroll(); });
    onDrag(ui.VScroll4, [this] { sliders->VScroll4_Scroll(); });
    onDrag(ui.VScroll5, [this] { sliders->VScroll5_Scroll(); });
    onDrag(ui.VScroll6, [this] { sliders->VScroll6_Scroll(); });
    // A deck bar moved by any other hand of the user's (arrows, the trough, the keyboard, the
    // wheel) sets its deck's volume too: a bar must not show one level while another plays.
    // Values the program sets trigger no action.
    auto onOtherMove = [this](QScrollBar* bar, auto handler) {
        connect(bar, &QScrollBar::actionTriggered, this, [bar, handler] {
            if (!bar->isSliderDown()) handler();  // a drag has its own handler
        });
    };
    onOtherMove(ui.VScroll5, [this] { sliders->VScroll5_Scroll(); });
    onOtherMove(ui.VScroll6, [this] { sliders->VScroll6_Scroll(); });

    connect(ui.Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);

    // Connected last, so that it runs after the handler of the same event.
    auto check = [this] { remoteControl->checkForChange(); };
    for (QPushButton* button :
         {ui.Command1, ui.Command3, ui.Command4, ui.Command6, ui.Command2, ui.Command10,
          ui.Command11, ui.Command13, ui.Command14, ui.Command15})
        connect(button, &QPushButton::clicked, this, check);
    connect(ui.List4, &QListWidget::itemDoubleClicked, this, check);
    connect(ui.VScroll5, &QScrollBar::valueChanged, this, check);
}

void Form1::addDeckMenus() {
    deck1Menu = std::make_unique<DeckMenu>(
        DeckMenu::Parts{1,
                        {ui.Label1, ui.Shape1, ui.Shape4, ui.Shape7, ui.Label15, ui.Label13,
                         ui.Label19, ui.Label2, ui.Command1, ui.Command3, ui.Command4, ui.Command5,
                         ui.Command7, ui.Command10, ui.Command11, ui.Slider1, ui.VScroll5},
                        *observedDeck1,
                        *outputSettings,
                        *levellingSettings,
                        crossfadeSettings.get(),
                        resumeSettings.get()});
    deck2Menu = std::make_unique<DeckMenu>(DeckMenu::Parts{
        2,
        {ui.Label9, ui.Shape3, ui.Shape5, ui.Shape8, ui.Label10, ui.Label12, ui.Label14, ui.Label11,
         ui.Command13, ui.Command14, ui.Command15, ui.Command16, ui.Command17, ui.Command18,
         ui.Command19, ui.Slider2, ui.VScroll6},
        *observedDeck2,
        *outputSettings,
        *levellingSettings,
        nullptr,
        nullptr});
}

void Form1::openJumpWindow() {
    if (!jumpWindow) {
        jumpWindow = new JumpWindow(
            JumpWindow::Parts{this, ui.List4,
                              [this](int trackNumber) {
                                  navigation->playEntryOnDeck1(trackNumber);
                                  remoteControl->checkForChange();
                              },
                              [this](int trackNumber) {
                                  navigation->loadEntryIntoDeck2(
                                      trackNumber, PlaylistNavigation::PausedDeck2::Replaced);
                                  remoteControl->checkForChange();
                              }});
    }
    jumpWindow->showOrRaise();
}

void Form1::openPath(const std::string& path) {
    remoteControl->openPath(path);
}

void Form1::resumeAtStart() {
    settings->Form_Activate();  // the resume comes after the settings, never under them
    switch (resumeSettings->atStart()) {
        case AtStart::Fresh:
            return;
        case AtStart::ResumePaused:
            resumeStart->begin(resumeSettings->storedPoint(), ResumeAs::Paused);
            break;
        case AtStart::ResumePlaying:
            resumeStart->begin(resumeSettings->storedPoint(), ResumeAs::Playing);
            break;
    }
    remoteControl->checkForChange();
}

void Form1::addErrorLine(const QString& line) {
    errorList->add(line);
}

bool Form1::errorListInView() const {
    return isVisible() && !isMinimized() && !ui.List3->visibleRegion().isEmpty();
}

void Form1::Form_Activate() {
    settings->Form_Activate();
}

void Form1::Form_Unload() {
    if (unloaded) return;
    unloaded = true;
    ui.Timer1->stop();
    settings->Form_Unload();
    // Behind the values above, in one save of its own; a fresh start needs no point.
    if (resumeSettings->atStart() != AtStart::Fresh)
        resumeSettings->storePoint(
            resumeStart->pointToKeep(observedDeck1->path(), observedDeck2->path()));
    if (onClosing) onClosing();
    // Bounded: a disk that does not answer would hold the end for ever, and the saves it holds
    // would be lost either way.
    const std::vector<std::string> undone = writer->flush(SettingsWriter::kEndBound);
    if (!undone.empty()) {
        std::string lost;
        for (const std::string& key : undone) lost += (lost.empty() ? "" : ", ") + key;
        parts.errors.report("Settings not saved, the disk did not answer within " +
                            std::to_string(SettingsWriter::kEndBound.count() / 1000) +
                            " s: " + lost + " keep their values from before");
    }
    if (onUnloaded) onUnloaded();
}

void Form1::UpdateForm1Once() {
    refresh->UpdateForm1Once();
}
void Form1::PlayTheNextFile() {
    navigation->PlayTheNextFile();
}
void Form1::Timer1_Timer() {
    tick->Timer1_Timer();
    remoteControl->checkForChange();
}

bool Form1::event(QEvent* e) {
    // Without a window manager no activation may come; the first showing counts as one.
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::Show) Form_Activate();
    return QWidget::event(e);
}

void Form1::closeEvent(QCloseEvent* e) {
    Form_Unload();
    e->accept();
}

void Form1::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (keyboard) keyboard->fitFocusToView();
}

void Form1::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData() && droppedPath(*e->mimeData())) e->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* e) {
    const auto path = e->mimeData() ? droppedPath(*e->mimeData()) : std::nullopt;
    if (!path) return;
    e->acceptProposedAction();
    // After the drop has been answered, so that the file manager does not wait for a folder
    // to be read.
    QTimer::singleShot(0, this, [this, path = *path] { openPath(path); });
}
