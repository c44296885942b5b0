#include "export/common/Data.h"

#include <cstring>
#include <functional>
#include <stdexcept>

namespace {

// Size() reports 32 bits; a buffer is never allowed to grow past what it can report.
void CheckGrowth(std::size_t current, uint32_t added) {
    if (static_cast<uint64_t>(current) + added > UINT32_MAX) {
        throw std::length_error("Data::Append() would exceed 4 GiB");
    }
}

}  // namespace

Data::Data() : cursor_(nullptr), windowStart_(nullptr), windowEnd_(nullptr), status_(0), count_(0) {}

Data::Data(uint32_t size, uint8_t fill) : Data() {
    storage_.assign(size, fill);
    Rebase(0);
}

Data::Data(const uint8_t* p, uint32_t n) : Data() {
    if (p != nullptr && n > 0) {
        storage_.assign(p, p + n);
    }
    Rebase(0);
}

Data::Data(const Data& other) : Data() {
    *this = other;
}

Data& Data::operator=(const Data& other) {
    // Built aside first, so that assigning a buffer to itself keeps its remaining bytes.
    std::vector<uint8_t> bytes;
    if (other.Size() > 0) {
        bytes.assign(other.cursor_, other.windowEnd_);
    }
    const int32_t status = other.status_;
    const int32_t count = other.count_;
    storage_.swap(bytes);
    status_ = status;
    count_ = count;
    Rebase(0);
    return *this;
}

Data::~Data() = default;

uint32_t Data::Size() const {
    return static_cast<uint32_t>(windowEnd_ - cursor_);
}

const uint8_t* Data::Bytes() const {
    return storage_.empty() ? nullptr : cursor_;
}

uint8_t* Data::MutableBytes() {
    return storage_.empty() ? nullptr : cursor_;
}

void Data::Consume(uint32_t n, bool compact) {
    std::size_t offset = CursorOffset();
    if (n <= Size()) {
        offset += n;
    }
    if (compact) {
        storage_.erase(storage_.begin(), storage_.begin() + static_cast<std::ptrdiff_t>(offset));
        offset = 0;
    }
    Rebase(offset);
}

void Data::SetStatus(int32_t status) {
    status_ = status;
}

void Data::SetCount(int32_t count) {
    count_ = count;
}

int32_t Data::Count() const {
    return count_;
}

int32_t Data::Status() const {
    return status_;
}

void Data::Append(const uint8_t* p, uint32_t n) {
    if (p == nullptr || n == 0) {
        return;
    }
    CheckGrowth(storage_.size(), n);
    const std::size_t offset = CursorOffset();
    const uint8_t* begin = storage_.data();
    const std::less<const uint8_t*> before;
    if (begin != nullptr && !before(p, begin) && before(p, begin + storage_.size())) {
        // Growing would move the source bytes away from under the copy.
        const std::vector<uint8_t> copy(p, p + n);
        storage_.insert(storage_.end(), copy.begin(), copy.end());
    } else {
        storage_.insert(storage_.end(), p, p + n);
    }
    Rebase(offset);
}

void Data::Append(const Data& other) {
    Append(other.Bytes(), other.Size());
}

uint32_t Data::Clear() {
    storage_.clear();
    status_ = 0;
    count_ = 0;
    Rebase(0);
    return 0;
}

bool Data::ReplaceTail(const uint8_t* p, uint32_t n) {
    if (Size() < n || (p == nullptr && n > 0)) {
        return false;
    }
    Consume(Size() - n, false);
    if (n > 0) {
        std::memmove(cursor_, p, n);
    }
    return true;
}

void Data::Rebase(std::size_t cursorOffset) {
    uint8_t* begin = storage_.data();
    if (begin == nullptr) {
        cursor_ = windowStart_ = windowEnd_ = nullptr;
        return;
    }
    windowStart_ = begin;
    windowEnd_ = begin + storage_.size();
    cursor_ = begin + cursorOffset;
}

std::size_t Data::CursorOffset() const {
    return static_cast<std::size_t>(cursor_ - windowStart_);
}
