// The alarm sound player with real GStreamer and a fake audio output that keeps real time.
#include "platform/gst_sound_player.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <limits.h>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"
#include "support/lib/wav_file.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kFakeOutput = "fakesink sync=true";

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A sink that holds every caller until the test lets go, like a modal box nobody closes.
class BlockingSink final : public MessageSink {
  public:
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
        std::unique_lock<std::mutex> lock(mutex_);
        messages_.push_back({std::string(text), std::string(caption), icon});
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    std::vector<test::RecordedMessage> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    std::vector<test::RecordedMessage> messages_;
};

// A few frames of pictures without any sound, made with GStreamer itself.
bool WriteVideoOnlyFile(const std::string& path) {
    const std::string description =
        "videotestsrc num-buffers=3 ! video/x-raw,width=16,height=16 ! jpegenc ! avimux ! "
        "filesink location=\"" +
        path + "\"";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    if (pipeline == nullptr) {
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* last = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool written = last != nullptr && GST_MESSAGE_TYPE(last) == GST_MESSAGE_EOS;
    if (last != nullptr) {
        gst_message_unref(last);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return written;
}

class SoundPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::WriteToneWav(longTone, 1.5));
        ASSERT_TRUE(test::WriteToneWav(shortTone, 0.5, 880.0));
    }

    test::TempDir dir;
    const std::string longTone = dir.File("alarm.wav");
    const std::string shortTone = dir.File("beep.wav");
    test::RecordingMessageSink sink;
};

TEST_F(SoundPlayerTest, PlaysTheWholeFileOnceInTheBackground) {
    GstSoundPlayer player(sink, kFakeOutput);
    EXPECT_FALSE(player.IsPlaying());

    const auto start = Clock::now();
    player.Play(longTone);
    EXPECT_LT(SecondsSince(start), 0.5) << "Play must not wait for the sound";
    EXPECT_TRUE(player.IsPlaying());

    ASSERT_TRUE(WaitFor([&] { return player.FinishedCount() == 1; }));
    // The output keeps real time, so reaching the end takes about the length of the tone.
    EXPECT_GE(SecondsSince(start), 1.3);
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_EQ(player.StoppedCount(), 0);
    EXPECT_EQ(player.FailedCount(), 0);
    EXPECT_EQ(sink.Count(), 0u);

    // The same player plays again afterwards.
    player.Play(shortTone);
    ASSERT_TRUE(WaitFor([&] { return player.FinishedCount() == 2; }));
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(SoundPlayerTest, NewSoundCutsOffTheOneStillPlaying) {
    GstSoundPlayer player(sink, kFakeOutput);
    const auto start = Clock::now();
    player.Play(longTone);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(player.IsPlaying());
    player.Play(shortTone);

    ASSERT_TRUE(WaitFor([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(player.StoppedCount(), 1);
    EXPECT_EQ(player.FinishedCount(), 1);
    // Past the moment the first tone would have ended: it must not end after all.
    std::this_thread::sleep_until(start + 2s);
    EXPECT_EQ(player.FinishedCount(), 1);
    EXPECT_EQ(player.StoppedCount(), 1);
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(SoundPlayerTest, SoundsAskedForInTheSameTickLeaveOnlyTheLastPlaying) {
    GstSoundPlayer player(sink, kFakeOutput);
    player.Play(longTone);
    player.Play(longTone);
    player.Play(shortTone);
    ASSERT_TRUE(WaitFor([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(player.FinishedCount(), 1);
    EXPECT_EQ(player.StoppedCount(), 2);
    EXPECT_EQ(player.FailedCount(), 0);
}

TEST_F(SoundPlayerTest, MissingFileIsReportedOnceWithoutHoldingTheCaller) {
    BlockingSink blocking;
    GstSoundPlayer player(blocking, kFakeOutput);
    const std::string missing = dir.File("no such sound.wav");

    auto start = Clock::now();
    player.Play(missing);
    EXPECT_LT(SecondsSince(start), 0.5);
    ASSERT_TRUE(WaitFor([&] { return blocking.Messages().size() == 1; }));

    // The box is still open; the next sound must neither wait for it nor be lost.
    start = Clock::now();
    player.Play(shortTone);
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_TRUE(player.IsPlaying());
    blocking.Release();
    ASSERT_TRUE(WaitFor([&] { return player.FinishedCount() == 1; }));

    const auto messages = blocking.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Sound");
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
    EXPECT_NE(messages[0].text.find(missing), std::string::npos) << messages[0].text;
    EXPECT_EQ(player.FailedCount(), 1);
}

TEST_F(SoundPlayerTest, FilesWithoutSoundAreReportedOnceEach) {
    const std::string text = dir.File("notes.txt");
    test::WriteFileBytes(text, "This is not a sound.\nJust two lines of text.\n");
    // A 1x1 PNG picture.
    const std::string picture = dir.File("dot.png");
    const unsigned char png[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
        0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D, 0xB4, 0x00,
        0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    test::WriteFileBytes(picture, std::string(reinterpret_cast<const char*>(png), sizeof png));

    GstSoundPlayer player(sink, kFakeOutput);  // starts GStreamer, which the next line needs
    // Pictures only: such a file neither ends nor fails by itself when only sound is wanted.
    const std::string video = dir.File("frames.avi");
    if (!WriteVideoOnlyFile(video)) {
        GTEST_SKIP() << "cannot make a video file here (jpegenc/avimux missing)";
    }

    for (const std::string& path : {text, picture, video}) {
        SCOPED_TRACE(path);
        const size_t before = sink.Count();
        player.Play(path);
        ASSERT_TRUE(WaitFor([&] { return !player.IsPlaying(); }));
        std::this_thread::sleep_for(200ms);  // room for a second report, which must not come
        ASSERT_EQ(sink.Count(), before + 1);
        const auto message = sink.Messages().back();
        EXPECT_EQ(message.caption, "Sound");
        EXPECT_EQ(message.icon, MessageIcon::Error);
        EXPECT_NE(message.text.find(path), std::string::npos) << message.text;
    }
    EXPECT_NE(sink.Messages().back().text.find("holds no sound"), std::string::npos);
    EXPECT_EQ(player.FailedCount(), 3);
    EXPECT_EQ(player.FinishedCount(), 0);
}

TEST_F(SoundPlayerTest, UnusableSettingsAreReportedNotIgnored) {
    {
        GstSoundPlayer player(sink, kFakeOutput);
        player.Play("");
        ASSERT_TRUE(WaitFor([&] { return sink.Count() == 1; }));
    }
    {
        GstSoundPlayer player(sink, "no_such_audio_element_anywhere");
        player.Play(shortTone);
        ASSERT_TRUE(WaitFor([&] { return sink.Count() == 2; }));
        EXPECT_EQ(player.FinishedCount(), 0);
        EXPECT_EQ(player.FailedCount(), 1);
    }
    for (const auto& message : sink.Messages()) {
        EXPECT_EQ(message.caption, "Sound");
        EXPECT_EQ(message.icon, MessageIcon::Error);
    }
}

TEST_F(SoundPlayerTest, RelativePathIsTakenFromTheCurrentFolder) {
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    {
        GstSoundPlayer player(sink, kFakeOutput);
        player.Play("beep.wav");
        EXPECT_TRUE(WaitFor([&] { return !player.IsPlaying(); }));
        EXPECT_EQ(player.FinishedCount(), 1);
    }
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(SoundPlayerTest, EndsCleanlyWhilePlaying) {
    std::optional<GstSoundPlayer> player(std::in_place, sink, kFakeOutput);
    player->Play(longTone);
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(player->IsPlaying());
    const auto start = Clock::now();
    player.reset();
    EXPECT_LT(SecondsSince(start), 1.0) << "the destructor must not wait for the sound's end";
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(SoundPlayerTest, EndsCleanlyWithSoundsStillQueued) {
    // Several players in one program are fine too: GStreamer is started once.
    GstSoundPlayer other(sink, kFakeOutput);
    {
        GstSoundPlayer player(sink, kFakeOutput);
        for (int i = 0; i < 5; ++i) {
            player.Play(longTone);
        }
    }
    other.Play(shortTone);
    ASSERT_TRUE(WaitFor([&] { return other.FinishedCount() == 1; }));
    EXPECT_EQ(sink.Count(), 0u);
}

}  // namespace
}  // namespace qv
