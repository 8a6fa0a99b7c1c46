// morv-reference: morv on the reference engine, the plain definition of the
// results. Slow on purpose; tests and benchmarks hold morv against it.
#include "driver/run.hpp"

int main(int argc, char** argv)
{
    return morv_main(argc, argv, ScanEngine::reference);
}
