// SPDX-License-Identifier: LGPL-2.1-or-later
#include "rovaindexlist.h"

#include <algorithm>

namespace {

// Cache entries: a position (>= 0), a remembered miss (-1), no entry, or a
// position found by indexing the whole list from 0 (the first occurrence).
constexpr int noEntry = -2;
constexpr int missEntry = -1;

constexpr int encodeFirstOccurrence(int position)
{
    return -position - 3;
}

constexpr bool isFirstOccurrence(int entry)
{
    return entry <= -3;
}

constexpr int decodeFirstOccurrence(int entry)
{
    return -entry - 3;
}

} // namespace

RovaIndexList::RovaIndexList() = default;

RovaIndexList::~RovaIndexList() = default;

int RovaIndexList::size() const
{
    return int(m_list.size());
}

const uint& RovaIndexList::at(int i) const
{
    return m_list.at(i);
}

int RovaIndexList::cached(uint value) const
{
    if (value < uint(m_positions.size()))
        return m_positions.at(value);
    return m_farPositions.value(value, noEntry);
}

void RovaIndexList::store(uint value, int entry) const
{
    if (value < uint(m_positions.size())) {
        m_positions[value] = entry;
    } else if (entry == noEntry) {
        m_farPositions.remove(value);
    } else {
        m_farPositions.insert(value, entry);
    }
}

void RovaIndexList::dropCache()
{
    m_positions.clear();
    m_farPositions.clear();
    m_complete = false;
}

void RovaIndexList::indexAll() const
{
    const qsizetype count = m_list.size();
    uint largest = 0;
    for (uint value : m_list)
        largest = std::max(largest, value);
    // Values stay in the dense part unless they are far beyond the list's size.
    const qsizetype denseSize = qsizetype(largest) < 2 * count + 64 ? qsizetype(largest) + 1 : count;
    if (denseSize > m_positions.size()) {
        const qsizetype oldSize = m_positions.size();
        m_positions.resize(denseSize);
        std::fill(m_positions.begin() + oldSize, m_positions.end(), noEntry);
        for (auto it = m_farPositions.begin(); it != m_farPositions.end();) {
            if (it.key() < uint(denseSize)) {
                m_positions[it.key()] = it.value();
                it = m_farPositions.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (qsizetype i = 0; i < count; ++i) {
        const uint value = m_list.at(i);
        if (cached(value) == noEntry)
            store(value, encodeFirstOccurrence(int(i)));
    }
    m_complete = true;
}

int RovaIndexList::indexOf(const uint& value, int from) const
{
    int entry = cached(value);
    if (entry >= missEntry)
        return entry;

    const int count = size();
    const int start = from < 0 ? std::max(0, count + from) : from;
    if (entry == noEntry && !m_complete && start == 0) {
        indexAll();
        entry = cached(value);
    }
    if (entry == noEntry && m_complete) {
        store(value, missEntry);
        return missEntry;
    }
    if (isFirstOccurrence(entry) && decodeFirstOccurrence(entry) >= start) {
        // The first occurrence at or after `start` is the first occurrence overall.
        const int position = decodeFirstOccurrence(entry);
        store(value, position);
        return position;
    }

    int position = missEntry;
    for (int i = start; i < count; ++i) {
        if (m_list.at(i) == value) {
            position = i;
            break;
        }
    }
    store(value, position);
    return position;
}

void RovaIndexList::append(const uint& value)
{
    m_list.append(value);
    store(value, size() - 1);
}

void RovaIndexList::insert(int i, const uint& value)
{
    m_list.insert(i, value);
    dropCache();
    store(value, i);
}

void RovaIndexList::replace(int i, const uint& value)
{
    const uint old = m_list.at(i);
    m_list.replace(i, value);
    // The old value may stand elsewhere as well; only a new look-up can tell.
    store(old, noEntry);
    m_complete = false;
    store(value, i);
}

void RovaIndexList::removeAt(int i)
{
    if (i >= 0 && i < size())
        m_list.removeAt(i);
    dropCache();
}

bool RovaIndexList::removeOne(const uint& value)
{
    const bool removed = m_list.removeOne(value);
    dropCache();
    return removed;
}

void RovaIndexList::move(int from, int to)
{
    m_list.move(from, to);
    dropCache();
}

void RovaIndexList::swap(int i, int j)
{
    m_list.swapItemsAt(i, j);
    dropCache();
}

void RovaIndexList::clear()
{
    m_list.clear();
    dropCache();
}

void RovaIndexList::fill(int count)
{
    dropCache();
    count = std::max(count, 0);
    m_list.resize(count);
    m_positions.resize(count);
    uint* values = m_list.data();
    int* positions = m_positions.data();
    for (int i = 0; i < count; ++i) {
        values[i] = uint(i);
        positions[i] = i;
    }
    m_complete = true;
}

void RovaIndexList::removeValueRange(uint first, uint last)
{
    if (last < first)
        return;
    const uint count = last - first + 1;
    uint* values = m_list.data();
    const qsizetype size = m_list.size();
    qsizetype kept = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const uint value = values[i];
        if (value - first < count) // first <= value <= last
            continue;
        values[kept++] = value > last ? value - count : value;
    }
    m_list.resize(kept);
    dropCache();
}

void RovaIndexList::insertAfter(int position, uint first, const QList<int>& offsets)
{
    const int added = int(offsets.size());
    if (added == 0)
        return;
    for (uint& value : m_list) {
        if (value >= first)
            value += uint(added);
    }

    const int count = size();
    position = std::clamp(position, -1, count - 1);
    const int tail = count - position - 1;
    const int slots = tail + added;
    if (added == 1) {
        m_list.insert(position + 1 + std::clamp(offsets.first(), 0, tail), first);
        dropCache();
        return;
    }

    // Later insertions push earlier ones back, so walk the insertions from the
    // last to the first: each takes the free slot that its offset counts to,
    // and the old tail fills the slots left over, in order. A Fenwick tree over
    // the free slots finds each one in logarithmic time.
    QList<int> tree(slots + 1, 0);
    for (int i = 1; i <= slots; ++i) {
        tree[i] += 1;
        const int parent = i + (i & -i);
        if (parent <= slots)
            tree[parent] += tree[i];
    }
    int highBit = 1;
    while (highBit * 2 <= slots)
        highBit *= 2;

    QList<qint64> placed(slots, -1);
    for (int j = added - 1; j >= 0; --j) {
        const int offset = std::clamp(offsets.at(j), 0, tail + j);
        // Find the slot holding the (offset + 1)-th free place.
        int slot = 0;
        int remaining = offset + 1;
        for (int step = highBit; step > 0; step /= 2) {
            const int next = slot + step;
            if (next <= slots && tree.at(next) < remaining) {
                slot = next;
                remaining -= tree.at(next);
            }
        }
        // slot is the 0-based index of that place.
        placed[slot] = qint64(first) + j;
        for (int i = slot + 1; i <= slots; i += i & -i)
            tree[i] -= 1;
    }

    QList<uint> result;
    result.reserve(count + added);
    result.append(m_list.constBegin(), m_list.constBegin() + (position + 1));
    int nextOld = position + 1;
    for (int i = 0; i < slots; ++i)
        result.append(placed.at(i) >= 0 ? uint(placed.at(i)) : m_list.at(nextOld++));
    m_list = std::move(result);
    dropCache();
}

const QList<uint>& RovaIndexList::values() const
{
    return m_list;
}
