#include "app/real_components.h"

#include <cstdlib>
#include <memory>

#include "app/error_log.h"
#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "components/qt_file_dialog.h"
#include "components/sdl_joystick.h"
#include "components/threaded_mixer.h"
#include "engine/loudness/loudness_cache.h"
#include "engine/loudness/loudness_service.h"
#include "engine/output/audio_output.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"

Form1* createWindowOnRealComponents(const SettingsPaths& settingsFiles) {
    auto* errors = new ErrorLog;
    AudioOutput* output = chooseAudioOutput(*errors).release();
    auto* deck1 = new Mp3Deck(*output, *errors, "Deck 1");
    auto* deck2 = new Mp3Deck(*output, *errors, "Deck 2");
    // The constructor touches no file: the measurer's thread reads the cache.
    LoudnessMeasurer::Options measuring;
    measuring.cacheFile =
        loudnessCacheFile(userCacheHome(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME")));
    measuring.cacheTrouble = [errors](const std::string& cause) { errors->report(cause); };
    auto* loudness = new LoudnessService(std::move(measuring));
    deck1->useLoudness(*loudness);
    deck2->useLoudness(*loudness);
    // ALSA's mixer on the sound server waits as long as the server hangs: never on the window's
    // thread.
    auto* mixer = new ThreadedMixer(std::make_unique<AlsaMixer>(*errors));
    auto* joystick = new SdlJoystick(*errors);
    auto* playFileDialog = new QtFileDialog;
    auto* playDirDialog = new QtFileDialog;

    auto* form = new Form1(
        Components{*deck1, *deck2, *mixer, *playFileDialog, *playDirDialog, *joystick, *errors},
        settingsFiles);
    for (const QString& line : errors->history()) form->addErrorLine(line);
    QObject::connect(errors, &ErrorLog::lineAdded, form, &Form1::addErrorLine);
    playFileDialog->setParent(form);
    playDirDialog->setParent(form);
    return form;
}
