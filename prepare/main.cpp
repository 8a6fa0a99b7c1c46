// morv-prepare: from a study's VCF and expression files to morv's inputs.
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/manifest.hpp"
#include "prepare/prepare.hpp"

int main(int argc, char** argv)
{
    try {
        if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
            std::cout << kUsage;
            return 0;
        }
        const Options options = parse_options(std::vector<std::string>(argv + 1, argv + argc));
        prepare(options, begin_manifest("morv-prepare", argc, argv), std::cout);
        return 0;
    } catch (const std::runtime_error& e) {  // ProgramError, FileError: the file and what is wrong
        std::cerr << "Error: " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "Error: not enough memory\n";
    }
    return 1;
}
