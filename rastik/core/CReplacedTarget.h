// A conversion's target that already exists, written beside it under a
// temporary name and put in its place only once the whole write has
// succeeded: a writer that follows the read may then start before the read
// has ended, and a read or write that fails or is stopped leaves the file
// that was there as it was.
#pragma once

#include <string>

class CReplacedTarget {
public:
    CReplacedTarget() = default;
    // Removes the temporary file unless it was put in place.
    ~CReplacedTarget();
    CReplacedTarget(const CReplacedTarget&) = delete;
    CReplacedTarget& operator=(const CReplacedTarget&) = delete;

    // Makes the temporary file for the target at path, with the target's
    // permissions, when the target is a regular file of this user with one
    // name (a link, or a file of several names, is written where it is);
    // false when the target cannot be replaced so.
    bool Open(const char* path);
    // The path the writer writes: the temporary file, once open.
    const char* WritePath() const { return m_temp.empty() ? nullptr : m_temp.c_str(); }
    // Puts the written file in the target's place; false if it cannot be.
    bool Commit();

private:
    std::string m_target;
    std::string m_temp;
};
