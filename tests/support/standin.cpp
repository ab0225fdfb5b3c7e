// Stands in for a program that Voltdesk starts. It writes its arguments, each ended
// by a NUL byte, to the file $STANDIN_RECORD. Started as a terminal program
// ("-e program arguments..."), it writes them to $STANDIN_RECORD.terminal instead
// and then becomes the program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    const char* record = std::getenv("STANDIN_RECORD");
    if (!record)
        return 2;
    const bool terminal = argc > 2 && std::strcmp(argv[1], "-e") == 0;
    const std::string path = std::string(record) + (terminal ? ".terminal" : "");
    std::string bytes;
    for (int i = 0; i < argc; ++i) {
        bytes += argv[i];
        bytes += '\0';
    }
    // Written whole before it appears, so a reader never sees half of it.
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (!f)
        return 3;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written || std::rename(part.c_str(), path.c_str()) != 0)
        return 3;
    if (terminal) {
        ::execv(argv[2], argv + 2);
        return 127;
    }
    return 0;
}
