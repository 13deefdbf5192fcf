#pragma once

#include <cstddef>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace tolvane {

// A list of paths held as plain text. A std::filesystem::path keeps a list of its components
// beside its text (a few hundred bytes for a path in a page folder); a site has hundreds of
// thousands of copies, so they are stored as text and made paths when asked for.
class PathList {
  public:
    class const_iterator {
      public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::filesystem::path;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::filesystem::path;

        const_iterator() = default;
        std::filesystem::path operator*() const { return std::filesystem::path(*at_); }
        std::filesystem::path operator[](difference_type n) const {
            return std::filesystem::path(at_[n]);
        }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(at_++); }
        const_iterator& operator--() {
            --at_;
            return *this;
        }
        const_iterator operator--(int) { return const_iterator(at_--); }
        const_iterator& operator+=(difference_type n) {
            at_ += n;
            return *this;
        }
        const_iterator& operator-=(difference_type n) {
            at_ -= n;
            return *this;
        }
        friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
        friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
        friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return a.at_ - b.at_;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.at_ == b.at_;
        }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
            return a.at_ <=> b.at_;
        }

      private:
        friend class PathList;
        explicit const_iterator(const std::string* at) : at_(at) {}
        const std::string* at_ = nullptr;
    };
    using iterator = const_iterator;
    using value_type = std::filesystem::path;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = std::filesystem::path;
    using const_reference = std::filesystem::path;

    PathList() = default;
    PathList(std::initializer_list<std::filesystem::path> paths) { assign(paths); }
    PathList(const std::vector<std::filesystem::path>& paths) { assign(paths); }
    PathList& operator=(const std::vector<std::filesystem::path>& paths) {
        paths_.clear();
        assign(paths);
        return *this;
    }
    operator std::vector<std::filesystem::path>() const { return {begin(), end()}; }

    std::size_t size() const { return paths_.size(); }
    bool empty() const { return paths_.empty(); }
    void reserve(std::size_t count) { paths_.reserve(count); }
    void push_back(const std::filesystem::path& path) { paths_.push_back(path.native()); }
    void push_back(std::string path) { paths_.push_back(std::move(path)); }

    std::filesystem::path operator[](std::size_t i) const { return paths_[i]; }
    std::filesystem::path at(std::size_t i) const { return paths_.at(i); }
    std::filesystem::path front() const { return paths_.front(); }
    std::filesystem::path back() const { return paths_.back(); }
    // The text of a path, without making a path of it.
    const std::string& native(std::size_t i) const { return paths_[i]; }

    const_iterator begin() const { return const_iterator(paths_.data()); }
    const_iterator end() const { return const_iterator(paths_.data() + paths_.size()); }

    friend bool operator==(const PathList& a, const PathList& b) { return a.paths_ == b.paths_; }
    friend bool operator==(const PathList& a, const std::vector<std::filesystem::path>& b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < b.size(); ++i) {
            if (a[i] != b[i])
                return false;
        }
        return true;
    }

  private:
    template <class Paths> void assign(const Paths& paths) {
        paths_.reserve(paths.size());
        for (const std::filesystem::path& path : paths)
            paths_.push_back(path.native());
    }
    std::vector<std::string> paths_;
};

} // namespace tolvane
