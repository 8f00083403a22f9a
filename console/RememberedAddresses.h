// The console's remembered TCP/IP addresses and its confirmed connection
// address, in the registry key "Software\Corvane Labs\Xelor" of the current
// user: one subkey per remembered address, named by the address text and
// holding no values, and the string value "Address".
//
// A name that cannot be a subkey (empty, holding "\", too long) is refused as a
// failed creation, never split into nested keys.
//
// Thread safety: any thread (the registry serialises); the dialogs call it on
// the GUI thread.
#pragma once

#include <QString>
#include <QStringList>

class RememberedAddresses {
public:
    struct Stored {
        bool ok = false;       // the subkey exists now
        bool created = false;  // it did not exist before
    };

    // The subkey names in the registry's enumeration order (sorted ignoring case).
    static QStringList list();
    // Creates (or opens) the subkey `text`.
    static Stored insert(const QString& text);
    // Deletes the subkey `old` and creates (or opens) `text`, in one change: when
    // `text` cannot be created, `old` stays as it was.
    static Stored replace(const QString& old, const QString& text);
    // Deletes the subkey `text` with anything below it. True when it is gone.
    static bool remove(const QString& text);
    // Sets the value "Address". True when written.
    static bool storeAddress(const QString& address);

    static bool isValidName(const QString& text);
};
