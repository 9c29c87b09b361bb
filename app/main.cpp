// Placeholder entry until the front ends land: resolves its host argument.
#include <iostream>

int main() {
  std::cout << "quillon\n";
  return 0;
}
