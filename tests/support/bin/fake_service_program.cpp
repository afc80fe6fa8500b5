// A stand-in for HalvoricSvc when the desktop program switches the service mode: writes
// its arguments, one per line, to "service_args.txt" in the folder given last, and reports
// like the service program does (its own text on stdout, box lines on stderr). When that
// folder holds "service_fails.txt" it fails as the service program does, with the file's
// text as the reason; with "service_hangs.txt" it never ends by itself.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const std::string record = std::string(argv[argc - 1]) + "/service_args.txt";
    std::FILE* out = std::fopen(record.c_str(), "w");
    if (out == nullptr) {
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, "%s\n", argv[i]);
    }
    std::fclose(out);
    const std::string folder = argv[argc - 1];
    if (std::ifstream(folder + "/service_hangs.txt")) {
        for (;;) {
            pause();
        }
    }
    if (std::ifstream fails{folder + "/service_fails.txt"}) {
        std::stringstream reason;
        reason << fails.rdbuf();
        std::printf("\n\nError installing service\n");
        std::fflush(stdout);
        std::fprintf(stderr, "Halvoric: Error installing service: %s\n", reason.str().c_str());
        return 1;
    }
    std::printf("\n\nService installed sucessfully\n");
    std::fflush(stdout);
    std::fprintf(stderr, "Halvoric: Service Installed Sucessfully\n");
    std::fprintf(stderr, "Halvoric: Can't start service, error=5\n");
    return 0;
}
