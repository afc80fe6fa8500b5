// One e-mail message: the recipient list operations.
#include "mail/mail_message.h"

namespace qv {

bool CMailMessage::AddRecipient(const std::string& email, const std::string& name) {
    recipients_.push_back({email, name});
    return true;
}

int CMailMessage::RecipientCount() const {
    return static_cast<int>(recipients_.size());
}

bool CMailMessage::RecipientAt(int index, std::string& email, std::string& name) const {
    if (index < 0 || index >= RecipientCount()) {
        return false;
    }
    const CRecipient& r = recipients_[static_cast<size_t>(index)];
    email = r.sEmail;
    name = r.sName;
    return true;
}

}  // namespace qv
