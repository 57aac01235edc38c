#include "platform/ErrorBoundary.h"

#include "platform/Services.h"

namespace zyg {

QString applicationErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) return message + u'.';
    return message;
}

void reportCommandError(const QString& message) {
    showMessage(MessageKind::ApplicationError, applicationErrorText(message));
}

}  // namespace zyg
