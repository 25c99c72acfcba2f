#include "memory_console.hpp"

#include <stdexcept>

namespace {

std::FILE *temporary_file() {
    std::FILE *file = std::tmpfile();
    if (file == nullptr) {
        throw std::runtime_error("cannot create a temporary file");
    }
    return file;
}

std::string rest_of(std::FILE *file) {
    std::string text;
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        text += static_cast<char>(c);
    }
    return text;
}

} // namespace

MemoryConsole::MemoryConsole(const std::string &input) {
    console_.in = temporary_file();
    console_.out = temporary_file();
    std::fwrite(input.data(), 1, input.size(), console_.in);
    std::rewind(console_.in);
}

MemoryConsole::~MemoryConsole() {
    std::fclose(console_.in);
    std::fclose(console_.out);
}

std::string MemoryConsole::output() {
    std::fflush(console_.out);
    const long end = std::ftell(console_.out);
    std::rewind(console_.out);
    std::string text = rest_of(console_.out);
    std::fseek(console_.out, end, SEEK_SET);
    return text;
}

std::string MemoryConsole::unread_input() {
    return rest_of(console_.in);
}
