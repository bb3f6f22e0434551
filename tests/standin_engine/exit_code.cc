// Ends with the exit code given as its argument (0 without one): the Wine
// harness must pass it through unchanged.
#include <cstdlib>

int main(int argc, char** argv) { return argc > 1 ? std::atoi(argv[1]) : 0; }
