// A table by key that holds at most a given number of entries: when a new key comes into a full
// table, the entry stored or refreshed longest ago leaves. What advertisers around the PC make
// the controller remember stays bounded so, however many addresses they rotate through.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <utility>

namespace Pd::Bt
{

template <typename Key, typename Value> class RecentTable
{
public:
    explicit RecentTable(std::size_t capacity) : capacity_(capacity) {}

    // The key's entry (a new one holds a default value), now the most recent.
    Value& Refresh(const Key& key)
    {
        if (auto found = entries_.find(key); found != entries_.end())
        {
            order_.splice(order_.begin(), order_, found->second.second);
            return found->second.first;
        }
        if (entries_.size() >= capacity_)
        {
            entries_.erase(order_.back());
            order_.pop_back();
        }
        order_.push_front(key);
        return entries_.emplace(key, std::pair{Value{}, order_.begin()}).first->second.first;
    }

    // The key's entry without refreshing it; null when the table has none.
    const Value* Find(const Key& key) const
    {
        auto found = entries_.find(key);
        return found == entries_.end() ? nullptr : &found->second.first;
    }

    void Clear()
    {
        entries_.clear();
        order_.clear();
    }

private:
    std::size_t capacity_;
    std::list<Key> order_; // most recent first
    std::map<Key, std::pair<Value, typename std::list<Key>::iterator>> entries_;
};

} // namespace Pd::Bt
