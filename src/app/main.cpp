// quillon: converts a movie into SWF files; with arguments it runs one batch conversion.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fputs("quillon: batch mode is not built yet\n", stderr);
  return 1;
}
