// NodeVector<T>: the entries of a structure and the elements of a list. A vector with the usual
// interface (iterators are pointers; size(), push_back, emplace_back, insert, erase, reserve,
// resize, ...), 16 bytes in size, whose storage is either its own (allocated and freed as
// std::vector's) or lent by the storage of a document read from a file (NodeArena): a reader
// places a node's entries beside the node, and the vector never frees them. Such lent storage
// stays where it is only as long as it is not outgrown: growing the vector, moving it or swapping
// it takes the elements to storage of the vector's own, so lent storage never leaves its node.
//
// Elements must be movable without throwing (the entries and values of documents are). Copies
// always get storage of their own. A vector holds at most UINT32_MAX elements; growing beyond that
// throws std::length_error, as std::vector does at its max_size(). Not thread-safe, as the nodes
// that hold it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace zrX {

class DocumentBuilder;

template <class T>
class NodeVector {
  static_assert(std::is_nothrow_move_constructible_v<T>, "elements move without throwing");
  static_assert(alignof(T) >= 2, "the storage pointer keeps a flag in its lowest bit");

 public:
  using value_type = T;
  using size_type = size_t;
  using difference_type = std::ptrdiff_t;
  using reference = T&;
  using const_reference = const T&;
  using pointer = T*;
  using const_pointer = const T*;
  using iterator = T*;
  using const_iterator = const T*;
  using reverse_iterator = std::reverse_iterator<iterator>;
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;

  NodeVector() = default;
  NodeVector(const NodeVector& other) { append(other.begin(), other.end()); }
  NodeVector(NodeVector&& other) noexcept { takeFrom(other); }
  NodeVector(std::initializer_list<T> values) { append(values.begin(), values.end()); }
  NodeVector(const std::vector<T>& values) { append(values.begin(), values.end()); }
  NodeVector(std::vector<T>&& values) { appendMoved(values.begin(), values.end()); }
  ~NodeVector() { destroyAll(); }

  NodeVector& operator=(const NodeVector& other) {
    if (this != &other) {
      NodeVector copy(other);
      destroyAll();
      takeFrom(copy);
    }
    return *this;
  }
  NodeVector& operator=(NodeVector&& other) noexcept {
    if (this != &other) {
      destroyAll();
      takeFrom(other);
    }
    return *this;
  }
  NodeVector& operator=(std::initializer_list<T> values) {
    NodeVector copy(values);
    return *this = std::move(copy);
  }
  NodeVector& operator=(const std::vector<T>& values) {
    NodeVector copy(values);
    return *this = std::move(copy);
  }
  NodeVector& operator=(std::vector<T>&& values) {
    NodeVector moved(std::move(values));
    return *this = std::move(moved);
  }

  // Iterators and access.
  T* data() { return reinterpret_cast<T*>(mBits & ~kLent); }
  const T* data() const { return reinterpret_cast<const T*>(mBits & ~kLent); }
  iterator begin() { return data(); }
  iterator end() { return data() + mSize; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + mSize; }
  const_iterator cbegin() const { return begin(); }
  const_iterator cend() const { return end(); }
  reverse_iterator rbegin() { return reverse_iterator(end()); }
  reverse_iterator rend() { return reverse_iterator(begin()); }
  const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
  const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }
  const_reverse_iterator crbegin() const { return rbegin(); }
  const_reverse_iterator crend() const { return rend(); }
  T& operator[](size_t i) { return data()[i]; }
  const T& operator[](size_t i) const { return data()[i]; }
  T& at(size_t i) {
    if (i >= mSize) throw std::out_of_range("NodeVector::at");
    return data()[i];
  }
  const T& at(size_t i) const {
    if (i >= mSize) throw std::out_of_range("NodeVector::at");
    return data()[i];
  }
  T& front() { return data()[0]; }
  const T& front() const { return data()[0]; }
  T& back() { return data()[mSize - 1]; }
  const T& back() const { return data()[mSize - 1]; }

  size_t size() const { return mSize; }
  bool empty() const { return mSize == 0; }
  size_t capacity() const { return mCapacity; }
  static constexpr size_t max_size() { return UINT32_MAX; }

  // Changes.
  void reserve(size_t count) {
    if (count > mCapacity) reallocate(count);
  }
  void shrink_to_fit() {
    if (mCapacity > mSize && !isLent()) reallocate(mSize);
  }
  void clear() {
    std::destroy(begin(), end());
    mSize = 0;
  }
  void resize(size_t count) {
    if (count <= mSize) {
      std::destroy(begin() + count, end());
    } else {
      reserve(count);
      std::uninitialized_value_construct(end(), begin() + count);
    }
    mSize = static_cast<uint32_t>(count);
  }
  void resize(size_t count, const T& value) {
    if (count <= mSize) {
      std::destroy(begin() + count, end());
    } else {
      const T copy(value);  // `value` may live in this vector
      reserve(count);
      std::uninitialized_fill(end(), begin() + count, copy);
    }
    mSize = static_cast<uint32_t>(count);
  }
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }
  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (mSize < mCapacity) {
      T* slot = ::new (static_cast<void*>(end())) T(std::forward<Args>(args)...);
      ++mSize;
      return *slot;
    }
    // The new element is made in the new storage first: the arguments may refer to an element.
    NodeVector grown;
    grown.allocate(grownCapacity(mSize + 1));
    ::new (static_cast<void*>(grown.data() + mSize)) T(std::forward<Args>(args)...);
    std::uninitialized_move(begin(), end(), grown.data());
    grown.mSize = mSize + 1;
    destroyAll();
    takeFrom(grown);
    return back();
  }
  void pop_back() {
    --mSize;
    std::destroy_at(end());
  }
  iterator insert(const_iterator position, const T& value) { return emplace(position, value); }
  iterator insert(const_iterator position, T&& value) {
    return emplace(position, std::move(value));
  }
  template <class Iterator, class = std::enable_if_t<!std::is_integral_v<Iterator>>>
  iterator insert(const_iterator position, Iterator first, Iterator last) {
    const size_t at = static_cast<size_t>(position - begin());
    NodeVector tail;
    tail.appendMoved(begin() + at, end());
    std::destroy(begin() + at, end());
    mSize = static_cast<uint32_t>(at);
    append(first, last);
    appendMoved(tail.begin(), tail.end());
    return begin() + at;
  }
  template <class... Args>
  iterator emplace(const_iterator position, Args&&... args) {
    const size_t at = static_cast<size_t>(position - begin());
    T value(std::forward<Args>(args)...);  // the arguments may refer to an element
    emplace_back(std::move(value));
    std::rotate(begin() + at, end() - 1, end());
    return begin() + at;
  }
  iterator erase(const_iterator position) { return erase(position, position + 1); }
  iterator erase(const_iterator first, const_iterator last) {
    T* from = begin() + (first - begin());
    T* to = begin() + (last - begin());
    if (from != to) {
      T* kept = std::move(to, end(), from);
      std::destroy(kept, end());
      mSize = static_cast<uint32_t>(kept - begin());
    }
    return from;
  }
  template <class Iterator, class = std::enable_if_t<!std::is_integral_v<Iterator>>>
  void assign(Iterator first, Iterator last) {
    NodeVector copy;
    copy.append(first, last);
    *this = std::move(copy);
  }
  void assign(size_t count, const T& value) {
    NodeVector copy;
    copy.resize(count, value);
    *this = std::move(copy);
  }
  void assign(std::initializer_list<T> values) { assign(values.begin(), values.end()); }
  void swap(NodeVector& other) noexcept {
    NodeVector moved(std::move(other));
    other = std::move(*this);
    *this = std::move(moved);
  }
  friend void swap(NodeVector& a, NodeVector& b) noexcept { a.swap(b); }

  friend bool operator==(const NodeVector& a, const NodeVector& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator!=(const NodeVector& a, const NodeVector& b) { return !(a == b); }

  // Whether the storage is lent (by a document's storage) rather than the vector's own.
  bool isLent() const { return (mBits & kLent) != 0; }

 private:
  friend class DocumentBuilder;
  static constexpr uintptr_t kLent = 1;

  // The room after growing to hold `needed` elements: doubling, as std::vector grows.
  size_t grownCapacity(size_t needed) const {
    if (needed > max_size()) throw std::length_error("NodeVector: too many elements");
    return std::min<size_t>(max_size(), std::max<size_t>({needed, size_t{mCapacity} * 2, 4}));
  }

  // Own storage for exactly `count` elements, into an empty vector without storage.
  void allocate(size_t count) {
    if (count > max_size()) throw std::length_error("NodeVector: too many elements");
    mBits = reinterpret_cast<uintptr_t>(std::allocator<T>().allocate(count));
    mCapacity = static_cast<uint32_t>(count);
  }
  void reallocate(size_t count) {
    NodeVector moved;
    moved.allocate(count);
    std::uninitialized_move(begin(), end(), moved.data());
    moved.mSize = mSize;
    destroyAll();
    takeFrom(moved);
  }
  template <class Iterator>
  void append(Iterator first, Iterator last) {
    for (; first != last; ++first) emplace_back(*first);
  }
  template <class Iterator>
  void appendMoved(Iterator first, Iterator last) {
    for (; first != last; ++first) emplace_back(std::move(*first));
  }
  // Takes over the elements of `other` (which is left empty): its storage when that is its own,
  // otherwise moved into storage of this vector's own. REQUIRES: this vector holds no storage.
  void takeFrom(NodeVector& other) noexcept {
    if (!other.isLent()) {
      mBits = other.mBits;
      mSize = other.mSize;
      mCapacity = other.mCapacity;
      other.mBits = 0;
      other.mSize = other.mCapacity = 0;
      return;
    }
    mBits = 0;
    mSize = mCapacity = 0;
    if (other.mSize == 0) return;
    // Moving out of lent storage allocates; like std::vector's growth, a failure to allocate here
    // ends the process (the move is noexcept).
    allocate(other.mSize);
    std::uninitialized_move(other.begin(), other.end(), data());
    mSize = other.mSize;
    other.clear();
  }
  void destroyAll() {
    std::destroy(begin(), end());
    if (!isLent() && mBits) std::allocator<T>().deallocate(data(), mCapacity);
    mBits = 0;
    mSize = mCapacity = 0;
  }

  uintptr_t mBits = 0;  // the storage, with kLent when it is lent
  uint32_t mSize = 0;
  uint32_t mCapacity = 0;
};

}  // namespace zrX
