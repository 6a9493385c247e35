// The entry points of the sound module (telvox-media.so): the only symbols it exports. Each
// makes one object of Qt Multimedia's kind, owned by the caller; a caller of another build
// gets nothing.
#include "core/ProgramModule.h"
#include "platform/media/QtMediaDevice.h"
#include "platform/media/QtSoundRecorder.h"
#include "platform/wave/QtAudioDevices.h"

#include <cstring>

namespace {
bool sameBuild(const char *build) { return build && std::strcmp(build, telvox::programModuleBuild()) == 0; }
} // namespace

extern "C" __attribute__((visibility("default"))) telvox::MediaDevice *telvox_media_player(const char *build)
{
    return sameBuild(build) ? new telvox::QtMediaDevice : nullptr;
}

extern "C" __attribute__((visibility("default"))) telvox::SoundRecorder *telvox_media_recorder(const char *build)
{
    return sameBuild(build) ? new telvox::QtSoundRecorder : nullptr;
}

extern "C" __attribute__((visibility("default"))) telvox::WaveDeviceProvider *telvox_media_sound_card(const char *build)
{
    return sameBuild(build) ? new telvox::QtAudioDevices : nullptr;
}
