// Builds a small document and writes it to memory through the installed library.
#include <cstdio>
#include <zrX/zrX.hpp>

int main() {
  zr::ref<zrX::ZRXStructure> root = new zrX::ZRXStructure("<Consumer>");
  *root << "answer" << zrX::ZRXValue(int64_t{42});
  zrX::ZRXValue copy = root->value()[0].value();
  std::printf("%s answer=%lld\n", root->className(), static_cast<long long>(copy.getInteger()));
  return copy.getInteger() == 42 ? 0 : 1;
}
