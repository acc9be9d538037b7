// The toolkit's own texts (message-box buttons, standard dialogs) in German,
// matching the program's German resources.
#pragma once

class QCoreApplication;

namespace pelvar {

// Installs Qt's German translations on `app`; false when they are not
// installed on this machine (the English texts then stay).
bool InstallGermanFrameworkTexts(QCoreApplication& app);

} // namespace pelvar
