// The alarm sound player of one program: plays a file once in the background with GStreamer's
// playbin; a new sound cuts off the one still playing. Problems go to the message sink.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/message_sink.h"
#include "platform/sound_player.h"

// GLib and GStreamer types, declared here so users of the player need not include their headers.
typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;
typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;

namespace qv {

class GstSoundPlayer final : public SoundPlayer {
  public:
    // audioSink: a pipeline description for the audio sink (for instance "fakesink sync=true");
    // empty means the system's default audio output.
    explicit GstSoundPlayer(MessageSink& sink, std::string audioSink = "");
    // Stops the sound still playing and ends the player's thread (after a message the sink is
    // still showing, since that call runs on this thread). Sounds still queued are dropped.
    ~GstSoundPlayer() override;
    GstSoundPlayer(const GstSoundPlayer&) = delete;
    GstSoundPlayer& operator=(const GstSoundPlayer&) = delete;

    // Queues the file for the player's thread and returns at once. That thread stops the sound
    // still playing, then plays this one once; it also reports a file that cannot be played.
    void Play(const std::string& path) override;

    // True from Play until the sound has ended, been cut off or failed.
    bool IsPlaying() const;
    // Sounds that played to their end.
    int FinishedCount() const { return finishedCount_.load(); }
    // Sounds cut off by a later Play.
    int StoppedCount() const { return stoppedCount_.load(); }
    // Sounds that could not be played (each reported once through the sink).
    int FailedCount() const { return failedCount_.load(); }

  private:
    void Run();
    void TakeRequests();
    void Start(const std::string& path);
    // Ends the current pipeline, if any; it no longer posts messages afterwards.
    void Release();
    // Ends the current pipeline and reports why it could not be played.
    void Fail(const std::string& reason);
    bool OnBusMessage(GstMessage* message);
    GstElement* MakeAudioSink(std::string* error) const;

    static int TakeRequestsThunk(void* self);
    static int BusThunk(GstBus* bus, GstMessage* message, void* self);

    MessageSink& sink_;
    const std::string audioSink_;
    std::string initError_;  // set when GStreamer could not be started

    std::mutex mutex_;
    std::deque<std::string> requests_;  // guarded by mutex_

    std::atomic<int> pending_{0};  // requests queued and not yet started
    std::atomic<bool> active_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> finishedCount_{0};
    std::atomic<int> stoppedCount_{0};
    std::atomic<int> failedCount_{0};

    GMainContext* context_ = nullptr;
    // Owned by the player's thread alone.
    GstElement* pipeline_ = nullptr;
    GSource* busWatch_ = nullptr;
    std::string currentPath_;

    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace qv
