// One e-mail message as the SMTP client sends it: sender, recipients, subject, body,
// and the header block built just before sending.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

class CMailMessage {
  public:
    struct CRecipient {
        std::string sEmail;  // address used in "RCPT TO:"
        std::string sName;   // display name used in the "To:" header
    };

    CMailMessage() = default;
    virtual ~CMailMessage() = default;

    // Appends one recipient; always succeeds.
    bool AddRecipient(const std::string& email, const std::string& name);
    int RecipientCount() const;
    // Copies the recipient at index; false (and nothing copied) when index is out of range.
    bool RecipientAt(int index, std::string& email, std::string& name) const;

    std::string sFrom;
    std::string sSubject;
    std::string sHeader;    // built by CSMTP::BuildHeader
    int64_t tDateTime = 0;  // calendar seconds of the "Date:" header; 0 until built
    std::string sBody;

  private:
    std::vector<CRecipient> recipients_;
};

}  // namespace qv
