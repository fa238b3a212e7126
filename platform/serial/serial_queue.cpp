// A port's backlog in chunks from the shared budget (serial_queue.h).
#include "serial_queue.h"

#include <cstring>
#include <new>

namespace serial {

unsigned char *Backlog::tail_span(Budget &budget, int &length)
{
    if (last == nullptr || last->head + last->count == CHUNK_BYTES) {
        if (budget.used + CHUNK_BYTES > budget.limit)
            return nullptr;
        Chunk *chunk = new (std::nothrow) Chunk;
        if (chunk == nullptr) // the system has less than the budget promised: the same as spent
            return nullptr;
        budget.used += CHUNK_BYTES;
        (last != nullptr ? last->next : first) = chunk;
        last = chunk;
    }
    const int end = last->head + last->count;
    length = CHUNK_BYTES - end;
    return last->data + end;
}

void Backlog::added(int length)
{
    last->count += length;
    count += length;
}

int Backlog::take(unsigned char *out, int max, Budget &budget)
{
    int n = 0;
    while (n < max && first != nullptr) {
        const int part = max - n < first->count ? max - n : first->count;
        std::memcpy(out + n, first->data + first->head, static_cast<std::size_t>(part));
        first->head += part;
        first->count -= part;
        n += part;
        // An emptied chunk goes back at once: a backlog lasts only while a
        // tick is late.
        if (first->count == 0) {
            Chunk *gone = first;
            first = gone->next;
            if (first == nullptr)
                last = nullptr;
            delete gone;
            budget.used -= CHUNK_BYTES;
        }
    }
    count -= n;
    return n;
}

void Backlog::clear(Budget &budget)
{
    while (first != nullptr) {
        Chunk *gone = first;
        first = gone->next;
        delete gone;
        budget.used -= CHUNK_BYTES;
    }
    last = nullptr;
    count = 0;
}

} // namespace serial
