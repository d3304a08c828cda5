#include "doctor/options.h"

#include <cstdio>

int main(int argc, char** argv)
{
    DoctorOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        fprintf(stderr, "tessaline-doctor: %s\nTry tessaline-doctor --help.\n", error.c_str());
        return 2;
    }
    fputs(kDoctorHelp, stdout);
    return 0;
}
