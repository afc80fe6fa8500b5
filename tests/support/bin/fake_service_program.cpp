// A stand-in for HalvoricSvc when the desktop program switches the service mode: writes
// its arguments, one per line, to "service_args.txt" in the folder given last, and reports
// like the service program does (its own text on stdout, box lines on stderr).
#include <cstdio>
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
    std::printf("\n\nService installed sucessfully\n");
    std::fflush(stdout);
    std::fprintf(stderr, "Halvoric: Service Installed Sucessfully\n");
    std::fprintf(stderr, "Halvoric: Can't start service, error=5\n");
    return 0;
}
