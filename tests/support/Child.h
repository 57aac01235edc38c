#pragma once

// The control of a window with this object name, as Qt's own tests find them;
// a missing one fails loudly instead of crashing the test on a null pointer.

#include <QObject>
#include <stdexcept>
#include <string>

namespace zyg::testing {

template <class T>
T* child(const QObject* window, const char* name) {
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found) throw std::logic_error(std::string("no control named ") + name);
    return found;
}

}  // namespace zyg::testing
