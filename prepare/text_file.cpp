#include "prepare/text_file.hpp"

#include <zlib.h>

#include "prepare/prepare_error.hpp"

std::string read_text_file(const std::string& path, const std::string& what)
{
    // gzopen reads uncompressed files as they are.
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file)
        throw PrepareError("cannot open the " + what + " " + path);
    std::string text;
    char buffer[1 << 16];
    int got;
    while ((got = gzread(file, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    const bool failed = got < 0;
    gzclose(file);
    if (failed)
        throw PrepareError("cannot read the " + what + " " + path);
    return text;
}

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r')
            --stop;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> split_tabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

std::vector<std::string> split_blanks(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t at = line.find_first_not_of(" \t");
    while (at != std::string::npos) {
        const std::size_t end = line.find_first_of(" \t", at);
        fields.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? end : line.find_first_not_of(" \t", end);
    }
    return fields;
}
