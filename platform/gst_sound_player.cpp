// The alarm sound player: one thread runs a GLib main context that owns the playbin pipeline
// and watches its bus, so the tick that asks for a sound never waits for GStreamer or the sink.
#include "platform/gst_sound_player.h"

#include <gst/gst.h>

#include <utility>

namespace qv {
namespace {

// playbin's "flags": audio only, so a file with pictures never opens a window.
constexpr guint kPlayFlagAudio = 0x2;

std::string TakeErrorText(GError* error, const char* fallback) {
    std::string text = (error != nullptr && error->message != nullptr) ? error->message : fallback;
    if (error != nullptr) {
        g_error_free(error);
    }
    return text;
}

}  // namespace

GstSoundPlayer::GstSoundPlayer(MessageSink& sink, std::string audioSink)
    : sink_(sink), audioSink_(std::move(audioSink)) {
    // gst_init_check is itself serialised and does nothing once GStreamer is up; a failure is
    // reported when a sound is asked for, like any other reason a sound cannot play.
    if (!gst_is_initialized()) {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            initError_ = TakeErrorText(error, "GStreamer could not be started.");
        }
    }
    context_ = g_main_context_new();
    thread_ = std::thread([this] { Run(); });
}

GstSoundPlayer::~GstSoundPlayer() {
    stop_ = true;
    g_main_context_wakeup(context_);
    thread_.join();
    // Request sources that never ran go with the context.
    g_main_context_unref(context_);
}

void GstSoundPlayer::Play(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(path);
        ++pending_;
    }
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, G_SOURCE_FUNC(&GstSoundPlayer::TakeRequestsThunk), this, nullptr);
    g_source_attach(source, context_);
    g_source_unref(source);
}

bool GstSoundPlayer::IsPlaying() const {
    // Read in this order: a request leaves pending_ only after active_ is set for it.
    return pending_.load() > 0 || active_.load();
}

void GstSoundPlayer::Run() {
    while (!stop_) {
        g_main_context_iteration(context_, TRUE);
    }
    if (pipeline_ != nullptr) {
        Release();
        ++stoppedCount_;
    }
    active_ = false;
}

int GstSoundPlayer::TakeRequestsThunk(void* self) {
    static_cast<GstSoundPlayer*>(self)->TakeRequests();
    return G_SOURCE_REMOVE;
}

int GstSoundPlayer::BusThunk(GstBus*, GstMessage* message, void* self) {
    return static_cast<GstSoundPlayer*>(self)->OnBusMessage(message) ? G_SOURCE_CONTINUE
                                                                     : G_SOURCE_REMOVE;
}

void GstSoundPlayer::TakeRequests() {
    while (!stop_) {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (requests_.empty()) {
                return;
            }
            path = std::move(requests_.front());
            requests_.pop_front();
        }
        active_ = true;
        --pending_;
        Start(path);
    }
}

GstElement* GstSoundPlayer::MakeAudioSink(std::string* error) const {
    GError* parseError = nullptr;
    GstElement* bin = gst_parse_bin_from_description(audioSink_.c_str(), TRUE, &parseError);
    if (bin == nullptr || parseError != nullptr) {
        *error = TakeErrorText(parseError, "The audio output cannot be made.");
        if (bin != nullptr) {
            gst_object_unref(bin);
        }
        return nullptr;
    }
    return bin;
}

void GstSoundPlayer::Start(const std::string& path) {
    // A new sound cuts off the one still playing, whichever host it was for.
    if (pipeline_ != nullptr) {
        Release();
        ++stoppedCount_;
    }
    currentPath_ = path;
    if (!initError_.empty()) {
        Fail(initError_);
        return;
    }
    if (path.empty()) {
        Fail("No sound file is set.");
        return;
    }
    // A relative path is taken from the current folder.
    GError* uriError = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &uriError);
    if (uri == nullptr) {
        Fail(TakeErrorText(uriError, "The file name cannot be used."));
        return;
    }
    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (playbin == nullptr) {
        g_free(uri);
        Fail("The GStreamer element \"playbin\" is missing.");
        return;
    }
    g_object_set(playbin, "uri", uri, "flags", kPlayFlagAudio, nullptr);
    g_free(uri);
    pipeline_ = playbin;
    if (!audioSink_.empty()) {
        std::string sinkError;
        GstElement* audioSink = MakeAudioSink(&sinkError);
        if (audioSink == nullptr) {
            Fail(sinkError);
            return;
        }
        g_object_set(playbin, "audio-sink", audioSink, nullptr);
    }

    GstBus* bus = gst_element_get_bus(playbin);
    busWatch_ = gst_bus_create_watch(bus);
    g_source_set_callback(busWatch_, G_SOURCE_FUNC(&GstSoundPlayer::BusThunk), this, nullptr);
    g_source_attach(busWatch_, context_);

    if (gst_element_set_state(playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The pipeline usually posted why; report that rather than a bare failure.
        std::string reason = "The sound cannot be started.";
        if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            reason = TakeErrorText(error, reason.c_str());
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        Fail(reason);
        return;
    }
    gst_object_unref(bus);
}

bool GstSoundPlayer::OnBusMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            Fail(TakeErrorText(error, "The sound cannot be played."));
            return false;
        }
        case GST_MESSAGE_ASYNC_DONE: {
            // Once the file is ready to play its streams are known. A file with pictures only
            // would otherwise wait for ever, never ending and never failing.
            if (GST_MESSAGE_SRC(message) != GST_OBJECT(pipeline_)) {
                return true;
            }
            gint audioStreams = 0;
            g_object_get(pipeline_, "n-audio", &audioStreams, nullptr);
            if (audioStreams == 0) {
                Fail("The file holds no sound.");
                return false;
            }
            return true;
        }
        case GST_MESSAGE_EOS:
            Release();
            ++finishedCount_;
            active_ = false;
            return false;
        default:
            return true;
    }
}

void GstSoundPlayer::Release() {
    if (busWatch_ != nullptr) {
        g_source_destroy(busWatch_);
        g_source_unref(busWatch_);
        busWatch_ = nullptr;
    }
    if (pipeline_ != nullptr) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
    }
}

void GstSoundPlayer::Fail(const std::string& reason) {
    Release();
    ++failedCount_;
    active_ = false;
    // The sink may block (a modal box); only this thread waits for it.
    sink_.ShowMessage("Cannot play the sound file \"" + currentPath_ + "\": " + reason, "Sound",
                      MessageIcon::Error);
}

}  // namespace qv
