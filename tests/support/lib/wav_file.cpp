#include "support/lib/wav_file.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>

namespace qv::test {
namespace {

void PutLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

bool WriteToneWav(const std::string& path, double seconds, double frequency, int sampleRate) {
    const auto samples = static_cast<uint32_t>(seconds * sampleRate);
    const uint32_t dataBytes = samples * 2;
    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    PutLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);              // format chunk size
    PutLe(out, 1, 2);               // PCM
    PutLe(out, 1, 2);               // mono
    PutLe(out, sampleRate, 4);      // samples per second
    PutLe(out, sampleRate * 2, 4);  // bytes per second
    PutLe(out, 2, 2);               // bytes per frame
    PutLe(out, 16, 2);              // bits per sample
    out += "data";
    PutLe(out, dataBytes, 4);
    for (uint32_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const auto value = static_cast<int16_t>(
            std::lround(12000.0 * std::sin(2.0 * std::numbers::pi * frequency * t)));
        PutLe(out, static_cast<uint16_t>(value), 2);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file.flush());
}

}  // namespace qv::test
