// Entry point of morv: the whole run on the fast engine.
#include "driver/run.hpp"

int main(int argc, char** argv)
{
    return morv_main(argc, argv, ScanEngine::fast);
}
