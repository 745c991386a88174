#include "Equality.hpp"

#include <cmath>
#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zrxpy {

namespace {

using zrX::ZRXValue;

bool equalReals(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

struct PairHash {
  size_t operator()(const std::pair<const void*, const void*>& p) const {
    const auto a = reinterpret_cast<uintptr_t>(p.first);
    const auto b = reinterpret_cast<uintptr_t>(p.second);
    return static_cast<size_t>(a * 0x9E3779B97F4A7C15ull ^ (b + (a >> 7)));
  }
};

}  // namespace

bool equalTrees(const ZRXValue& first, const ZRXValue& second) {
  std::vector<std::pair<const ZRXValue*, const ZRXValue*>> stack{{&first, &second}};
  std::unordered_set<std::pair<const void*, const void*>, PairHash> met;
  while (!stack.empty()) {
    const auto [a, b] = stack.back();
    stack.pop_back();
    if (a->type() != b->type()) return false;
    switch (a->type()) {
      case ZRXValue::Bool:
        if (a->getBool() != b->getBool()) return false;
        break;
      case ZRXValue::Integer:
        if (a->getInteger() != b->getInteger()) return false;
        break;
      case ZRXValue::Real:
        if (!equalReals(a->getReal(), b->getReal())) return false;
        break;
      case ZRXValue::String:
        if (a->getString() != b->getString()) return false;
        break;
      case ZRXValue::Identifier:
        if (a->getIdentifier() != b->getIdentifier()) return false;
        break;
      case ZRXValue::ID:
        if (a->getID() != b->getID()) return false;
        break;
      case ZRXValue::RawtextBlock: {
        const zrX::ZRXRawtextBlock* x = a->getRawtextBlock();
        const zrX::ZRXRawtextBlock* y = b->getRawtextBlock();
        if (x->tag() != y->tag() || x->value() != y->value()) return false;
        break;
      }
      case ZRXValue::ArrayInteger: {
        const zrX::ZRXArrayInteger* x = a->getArrayInteger();
        const zrX::ZRXArrayInteger* y = b->getArrayInteger();
        if (x->tag() != y->tag() || x->value() != y->value()) return false;
        break;
      }
      case ZRXValue::ArrayReal: {
        const auto& x = a->getArrayReal()->value();
        const auto& y = b->getArrayReal()->value();
        if (a->getArrayReal()->tag() != b->getArrayReal()->tag() || x.size() != y.size())
          return false;
        for (size_t i = 0; i < x.size(); ++i)
          if (!equalReals(x[i], y[i])) return false;
        break;
      }
      case ZRXValue::List: {
        const zrX::ZRXList* x = a->getList();
        const zrX::ZRXList* y = b->getList();
        if (x == y || !met.insert({x, y}).second) break;
        if (x->tag() != y->tag() || x->value().size() != y->value().size()) return false;
        for (size_t i = x->value().size(); i-- > 0;)
          stack.emplace_back(&x->value()[i], &y->value()[i]);
        break;
      }
      case ZRXValue::Structure: {
        const zrX::ZRXStructure* x = a->getStructure();
        const zrX::ZRXStructure* y = b->getStructure();
        if (!x || !y) {
          if (x != y) return false;
          break;
        }
        if (x == y || !met.insert({x, y}).second) break;
        if (x->tag() != y->tag() || x->uid() != y->uid() || x->value().size() != y->value().size())
          return false;
        for (size_t i = x->value().size(); i-- > 0;) {
          if (x->value()[i].key() != y->value()[i].key()) return false;
          stack.emplace_back(&x->value()[i].value(), &y->value()[i].value());
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace zrxpy
