// morv-prepare: from a study's VCF and expression files to morv's inputs.
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "files/file_error.hpp"
#include "files/manifest.hpp"
#include "prepare/prepare.hpp"
#include "prepare/prepare_error.hpp"

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
    } catch (const PrepareError& e) {
        std::cerr << "Error: " << e.what() << "\n";
    } catch (const FileError& e) {
        std::cerr << "Error: " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "Error: not enough memory\n";
    }
    return 1;
}
