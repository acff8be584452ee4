// SPDX-License-Identifier: LGPL-2.1-or-later
#ifndef ROVAINDEXLIST_H
#define ROVAINDEXLIST_H

#include "rova_export.h"

#include <QHash>
#include <QList>

/*!
    An ordered list of unsigned row numbers, one per presented position, that
    also answers at which position a given row number stands.

    The proxy sort model keeps its shuffled permutation here. Reverse look-ups go
    through a cache: once the list has been looked up from position 0, every
    value it holds is known, so further look-ups take constant time until an
    operation reorders the list. Operations that store a value record its new
    position; operations that move existing entries drop the cache.

    The list may hold any values, duplicates included; indexOf() then answers the
    position where the value was last stored or found.
*/
class ROVA_EXPORT RovaIndexList
{
public:
    RovaIndexList();
    virtual ~RovaIndexList();

    /*! The number of entries. */
    int size() const;
    /*! The entry at \a i; the caller guarantees 0 <= i < size(). */
    const uint& at(int i) const;
    /*!
        The position of \a value, or -1. A value the cache knows is answered from
        it whatever \a from is; otherwise the list is searched from \a from (a
        negative \a from counts from the end) and the answer is remembered.
    */
    int indexOf(const uint& value, int from = 0) const;

    /*! Appends \a value at the end. */
    void append(const uint& value);
    /*! Inserts \a value at \a i, 0 <= i <= size(). */
    void insert(int i, const uint& value);
    /*! Replaces the entry at \a i, 0 <= i < size(), by \a value. */
    void replace(int i, const uint& value);
    /*! Removes the entry at \a i; an \a i outside the list changes nothing. */
    void removeAt(int i);
    /*! Removes the first entry equal to \a value; true when there was one. */
    bool removeOne(const uint& value);
    /*! Moves the entry at \a from to \a to; both must be valid positions. */
    void move(int from, int to);
    /*! Exchanges the entries at \a i and \a j; both must be valid positions. */
    void swap(int i, int j);
    /*! Removes every entry. */
    void clear();

    /*! Makes the list 0, 1, ..., \a count - 1 (empty for a count below 1). */
    void fill(int count);
    /*!
        Removes every entry whose value lies in \a first .. \a last and lowers
        each value above \a last by the number of values in that range, keeping
        the order of the remaining entries. For a permutation of 0..n-1 this is
        what removing those rows from the underlying model does to it.
    */
    void removeValueRange(uint first, uint last);
    /*!
        Inserts the values \a first, \a first + 1, ... one after another after
        position \a position (-1 for the front): first every value >= \a first
        already in the list is raised by the number of new values, then value
        \a first + j goes to position \a position + 1 + \a offsets[j] of the list
        as the previous insertions left it. Offsets are clamped into the list.
        Takes linear time plus a logarithmic factor in the number of values.
    */
    void insertAfter(int position, uint first, const QList<int>& offsets);

    /*! The entries in order. */
    const QList<uint>& values() const;

private:
    int cached(uint value) const;
    void store(uint value, int entry) const;
    void dropCache();
    void indexAll() const;

    QList<uint> m_list;
    // Cache of positions by value: dense for small values, a hash for the rest.
    mutable QList<int> m_positions;
    mutable QHash<uint, int> m_farPositions;
    // Every value of the list has a cache entry, so a value without one is absent.
    mutable bool m_complete = false;
};

#endif // ROVAINDEXLIST_H
