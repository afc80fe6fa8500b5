// The alarm sound: one player per program that plays a file once in the background.
#pragma once

#include <string>

namespace qv {

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    // Stops whatever is still playing, then starts the file and returns at once.
    // Problems with the file are reported by the player itself, never by blocking.
    virtual void Play(const std::string& path) = 0;
};

}  // namespace qv
