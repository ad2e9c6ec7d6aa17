#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include <QDeadlineTimer>

// Sorts a vector a slice at a time, for work done on the event loop: a
// single std::sort of fifty thousand long paths holds the loop for tens of
// milliseconds. Runs of RunLength elements are sorted first, then merged
// pairwise, pass after pass; every step checks the deadline often enough
// that one slice never runs much past it. The order is not stable.
template <class T, class Less = std::less<T>> class SlicedSort
{
public:
    static constexpr std::size_t RunLength = 1024;
    static constexpr std::size_t MergeBatch = 1024;

    explicit SlicedSort(std::vector<T>& items, Less less = Less())
        : m_items(items), m_less(std::move(less))
    {}

    // Sorts on until the deadline passes (always a little); true when done.
    bool Continue(const QDeadlineTimer& deadline)
    {
        const std::size_t n = m_items.size();
        while (m_sorted < n) {
            const std::size_t end = std::min(n, m_sorted + RunLength);
            std::sort(m_items.begin() + m_sorted, m_items.begin() + end, m_less);
            m_sorted = end;
            if (deadline.hasExpired())
                return m_sorted == n && n <= RunLength;
        }
        // A pass merges a batch at a time; time left goes on to the next.
        while (m_width < n) {
            MergeSome();
            if (deadline.hasExpired())
                return m_width >= n;
        }
        return true;
    }

private:
    // Merges up to a batch of the current pass; false while the pass goes on.
    bool MergeSome()
    {
        const std::size_t n = m_items.size();
        if (m_merged.empty())
            m_merged.reserve(n);
        for (std::size_t done = 0; done < MergeBatch && m_left < n; ++done) {
            const std::size_t mid = std::min(n, m_left + m_width);
            const std::size_t end = std::min(n, m_left + 2 * m_width);
            if (m_right < mid)
                m_right = mid; // a new pair of runs
            const bool takeRight =
                m_right < end && (m_next == mid || m_less(m_items[m_right], m_items[m_next]));
            m_merged.push_back(std::move(m_items[takeRight ? m_right++ : m_next++]));
            if (m_next == mid && m_right == end)
                m_left = m_next = m_right = end;
        }
        if (m_left < n)
            return false;
        m_items.swap(m_merged);
        m_merged.clear();
        m_width *= 2;
        m_left = m_next = m_right = 0;
        return true;
    }

    std::vector<T>& m_items;
    Less m_less;
    std::vector<T> m_merged;
    std::size_t m_sorted = 0;        // runs sorted so far
    std::size_t m_width = RunLength; // sorted run length of the current pass
    std::size_t m_left = 0;          // start of the pair of runs being merged
    std::size_t m_next = 0;          // next of the left run
    std::size_t m_right = 0;         // next of the right run
};
