// One public operation of a codec (a header read, a data read, a write), as
// the base class runs it: a file exception thrown inside becomes a failure
// (27708 when the disk is full), as does memory that cannot be had; the outcome is kept as the codec's last
// status (GetLastMessage), and its message is shown by the one rule every
// codec follows: a write's failure always, so the user learns why a file was
// not saved; a read's only when ShowMessages is set. An operation called
// from inside another (WriteFile calling WriteHeader) keeps its status for
// the outer one, which shows the message once.
//
//   int CXxxIO::WriteFile()
//   {
//       COperation op(*this, COperation::kWrite);
//       return op.Run([&] { return WriteRows(); });   // CStatus WriteRows()
//   }
#pragma once

#include <new>

#include "platform/CFileException.h"
#include "rastik/CRastik.h"
#include "rastik/core/CStatus.h"
#include "rastik/support/NonCopyable.h"

class COperation : private NonCopyable {
public:
    enum Kind { kRead, kWrite };

    // fileError: the message of a file error other than a full disk (a
    // header read's: the header cannot be read); 0 for none.
    COperation(CRastik& codec, Kind kind, int fileError = 0);
    ~COperation();

    // Runs body (CStatus body()) and concludes with its status; the
    // documented int result.
    template <class Body>
    int Run(Body&& body)
    {
        CStatus status;
        try {
            status = body();
        } catch (const CFileException& error) {
            status = CStatus::FileFailure(error);
            if (status.Message() == 0) status = CStatus::Failed(m_fileError);
        } catch (const std::bad_alloc&) {
            status = CStatus::Failed();
        }
        return Conclude(status);
    }
    // Keeps status as the codec's last one and shows its message by the rule.
    int Conclude(const CStatus& status);
    // The status of an int result of a public operation called inside this
    // one: a failure carries the message that operation kept.
    CStatus Of(int result) const;

private:
    CRastik& m_codec;
    Kind m_kind;
    int m_fileError;
};
