// The outcome of a TIFF step that may refuse a file or an image: done, or
// failed with the id of the message that gives the reason (0 where the
// format refuses without a message). Where the library reports a message id
// or 0, it is `message`.
#pragma once

struct TiffStatus {
    bool failed = false;
    int message = 0;

    static constexpr TiffStatus Done() { return {}; }
    static constexpr TiffStatus Fail(int message = 0) { return {true, message}; }
    bool Failed() const { return failed; }
};
