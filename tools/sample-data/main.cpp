// make-sample-data <out folder>: writes the sample data files into the folder.
#include "tools/sample-data/sample_data.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample-data <out folder>\n");
        return 2;
    }
    std::string error;
    if (!sample_data::WriteSampleData(argv[1], &error)) {
        std::fprintf(stderr, "make-sample-data: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
