// mkhive FILE [ROOT-NAME]: writes a new, empty hive file whose root key has
// the given name (ROOT by default). hivex and the registry's RegLoadKeyW can
// then open and fill it.
#include <cstdio>
#include <string>

#include "platform/registry/empty_hive.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: mkhive FILE [ROOT-NAME]\n");
    return 2;
  }
  platform::registry::EmptyHiveOptions options;
  if (argc == 3) options.root_name = argv[2];
  const LONG rc = platform::registry::CreateEmptyHive(argv[1], options);
  if (rc == ERROR_INVALID_PARAMETER) {
    std::fprintf(stderr, "mkhive: root name must be 1 to 255 printable ASCII characters without a backslash\n");
    return 1;
  }
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "mkhive: %s cannot be written\n", argv[1]);
    return 1;
  }
  return 0;
}
