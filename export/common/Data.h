#pragma once
// The byte buffer of one packet or stream: owned bytes with a read cursor, plus the status
// (Windows error code) and byte count of the buffer's last transfer. One thread at a time.
//
// Binary interface: the service and every interpreter plug-in (ours and other makers') compile
// this class separately and call each other's objects through its virtual table. The fields and
// the virtual operations must keep exactly this order and these signatures; new operations may
// only be added as non-virtual members. Compilers differ in how they lay out overloaded virtuals
// (the two Append), so a plug-in must be built with the same compiler family as the service.
#include <cstdint>
#include <vector>

class Data {
public:
    Data();
    // size bytes of fill.
    Data(uint32_t size, uint8_t fill);
    // A copy of n bytes at p; a null p gives the empty buffer.
    Data(const uint8_t* p, uint32_t n);
    // Copies other's remaining bytes, status and count; the cursor starts at the first byte.
    Data(const Data& other);
    Data& operator=(const Data& other);

    virtual ~Data();                                        // slot 0
    // Bytes from the cursor to the end.
    virtual uint32_t Size() const;                          // slot 1
    // The cursor; null when the buffer owns no bytes.
    virtual const uint8_t* Bytes() const;                   // slot 2
    // Advances the cursor by n when n <= Size() (else leaves it); compact drops the bytes before it.
    virtual void Consume(uint32_t n, bool compact);         // slot 3
    virtual void SetStatus(int32_t status);                 // slot 4
    virtual void SetCount(int32_t count);                   // slot 5
    virtual int32_t Count() const;                          // slot 6
    virtual int32_t Status() const;                         // slot 7
    // Appends n bytes (a null p appends nothing); the cursor keeps its offset from the start.
    virtual void Append(const uint8_t* p, uint32_t n);      // slot 8
    // Appends other's remaining bytes; other may be this buffer.
    virtual void Append(const Data& other);                 // slot 9
    // Empties the buffer and zeroes status and count; returns 0.
    virtual uint32_t Clear();                               // slot 10
    // Overwrites the last n bytes with p and moves the cursor to them; false (nothing changed)
    // if fewer than n bytes remain or p is null while n > 0.
    virtual bool ReplaceTail(const uint8_t* p, uint32_t n); // slot 11

    // The remaining bytes for in-place edits of a packet (null when the buffer owns no bytes).
    uint8_t* MutableBytes();

private:
    // Points all three pointers at storage_ again, the cursor cursorOffset bytes from its start.
    void Rebase(std::size_t cursorOffset);
    std::size_t CursorOffset() const;

    uint8_t* cursor_;
    uint8_t* windowStart_;
    uint8_t* windowEnd_;
    std::vector<uint8_t> storage_;
    int32_t status_;
    int32_t count_;
};
