// Ends with the exit code given as its first argument (0 without one): the
// Wine harness must pass it through unchanged. With a second argument it
// appends a line to that file on every start, so a harness that starts it again
// is seen; with a third it also prints, which a silent run does not.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc > 2) {
    if (std::FILE* starts = std::fopen(argv[2], "a")) {
      std::fputs("started\n", starts);
      std::fclose(starts);
    }
  }
  if (argc > 3) {
    std::puts(argv[3]);
  }
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
