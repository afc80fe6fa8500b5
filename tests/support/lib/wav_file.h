// Writes small WAV files (a sine tone, 16-bit PCM mono) for the sound player's tests.
#pragma once

#include <string>

namespace qv::test {

// A tone of the given length and pitch; false when the file cannot be written.
bool WriteToneWav(const std::string& path, double seconds, double frequency = 440.0,
                  int sampleRate = 8000);

}  // namespace qv::test
