// The message table. Non-ASCII characters are written as universal character
// names so that no compiler can misread the source file's encoding; the
// Italian column repeats the English text where no translation exists.
#include "messages.h"

#include "support/wformat.h"
#include "zolcomp/zolcomp.h"

#include <wchar.h>

namespace {

const wchar_t* const kMessages[MSG_COUNT][LANG_COL_COUNT] = {
    // 0 MSG_UNKNOWN_INF_TYPE
    {
        L"Unknown INF file type -- installation will not continue.", // English
        L"Type de fichier INF inconnu -- installation interrompue", // French
        L"Unknown INF file type -- installation will not continue.", // Italian
        L"Unbekannter INF-Dateityp -- die Installation wird nicht fortgesetzt", // German
        L"Tipo de archivo INF desconocido. La instalaci\u00F3n no continuar\u00E1.", // Spanish
        L"\u4E0D\u660E\u306AINF\u30D5\u30A1\u30A4\u30EB \u30BF\u30A4\u30D7\u3067\u3059 -- \u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u7D9A\u884C\u3067\u304D\u307E\u305B\u3093", // Japanese
    },
    // 1 MSG_OS_NOT_SUPPORTED
    {
        L"The OS is not supported.\r\n", // English
        L"Le syst\u00E8me d'exploitation n'est pas pris en charge\r\n", // French
        L"The OS is not supported.\r\n", // Italian
        L"Das Betriebssystem wird nicht unterst\u00FCtzt\r\n", // German
        L"El sistema operativo no es compatible.\r\n", // Spanish
        L"\u3053\u306EOS\u306F\u30B5\u30DD\u30FC\u30C8\u3055\u308C\u3066\u3044\u307E\u305B\u3093\u3002\r\n", // Japanese
    },
    // 2 MSG_NO_DISK_SPACE
    {
        L"There is not enough disk space to install this component.\r\n", // English
        L"Espace disque insuffisant pour l'installation du composant.\r\n", // French
        L"There is not enough disk space to install this component.\r\n", // Italian
        L"F\u00FCr die Installation dieser Komponente steht nicht gen\u00FCgend freier Festplattenspeicherplatz zur Verf\u00FCgung.\r\n", // German
        L"No dispone de suficiente espacio en el disco para instalar este componente.\r\n", // Spanish
        L"\u3053\u306E\u30B3\u30F3\u30DD\u30FC\u30CD\u30F3\u30C8\u3092\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3059\u308B\u305F\u3081\u306B\u5FC5\u8981\u306A\u30C7\u30A3\u30B9\u30AF\u5BB9\u91CF\u304C\u3042\u308A\u307E\u305B\u3093\u3002\r\n", // Japanese
    },
    // 3 MSG_MARKED_FOR_REMOVAL
    {
        L"The component is marked for removal upon the next reboot.  Install can not continue.\r\n", // English
        L"Le composant sera supprim\u00E9 au prochain d\u00E9marrage.  L'installation ne peut pas continuer.\r\n", // French
        L"The component is marked for removal upon the next reboot.  Install can not continue.\r\n", // Italian
        L"Die markierte Komponente wird beim n\u00E4chsten Neustart des Systems entfernt.  Die Installation kann nicht fortgesetzt werden.\r\n", // German
        L"El componente est\u00E1 marcado para eliminarlo la pr\u00F3xima vez que reinicie.  La instalaci\u00F3n no puede continuar.\r\n", // Spanish
        L"\u3053\u306E\u30B3\u30F3\u30DD\u30FC\u30CD\u30F3\u30C8\u306F\u6B21\u56DE\u306E\u30EA\u30D6\u30FC\u30C8\u6642\u306B\u524A\u9664\u3055\u308C\u308B\u3088\u3046\u306B\u30DE\u30FC\u30AF\u3055\u308C\u3066\u3044\u307E\u3059\u3002\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u7D9A\u884C\u3067\u304D\u307E\u305B\u3093\u3002\r\n", // Japanese
    },
    // 4 MSG_NO_SUPPORTED_DEVICES
    {
        L"No supported devices were specified.", // English
        L"Aucun p\u00E9riph\u00E9rique pris en charge n'a \u00E9t\u00E9 sp\u00E9cifi\u00E9", // French
        L"No supported devices were specified.", // Italian
        L"Es wurden keine unterst\u00FCtzten Treiber angegeben", // German
        L"No se especific\u00F3 ning\u00FAn dispositivo compatible.", // Spanish
        L"\u30B5\u30DD\u30FC\u30C8\u3055\u308C\u3066\u3044\u308B\u30C7\u30D0\u30A4\u30B9\u304C\u6307\u5B9A\u3055\u308C\u3066\u3044\u307E\u305B\u3093\u3002", // Japanese
    },
    // 5 MSG_INSTALL_ERROR
    {
        L"An error occurred during installation.", // English
        L"Erreur lors de l'installation", // French
        L"An error occurred during installation.", // Italian
        L"W\u00E4hrend der Installation ist ein Fehler aufgetreten", // German
        L"Se produjo un error durante la instalaci\u00F3n.", // Spanish
        L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u4E2D\u306B\u30A8\u30E9\u30FC\u304C\u767A\u751F\u3057\u307E\u3057\u305F\u3002", // Japanese
    },
    // 6 MSG_NO_DEVICES_FOUND
    {
        L"No devices were found to install.", // English
        L"Pas de p\u00E9riph\u00E9rique \u00E0 installer", // French
        L"No devices were found to install.", // Italian
        L"Es wurden keine zu installierenden Ger\u00E4te gefunden", // German
        L"No se encontr\u00F3 ning\u00FAn dispositivo para instalar.", // Spanish
        L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3059\u308B\u30C7\u30D0\u30A4\u30B9\u304C\u898B\u3064\u304B\u308A\u307E\u305B\u3093\u3067\u3057\u305F\u3002", // Japanese
    },
    // 7 MSG_DEVICE_INSTALL_FAILED
    {
        L"Installation failed on at least one device.  One of the devices may have been deleted through Device Manager and a reboot may be necessary to complete the driver installation for this device.", // English
        L"L'installation a \u00E9chou\u00E9 sur un p\u00E9riph\u00E9rique au moins. Il se peut que l'un des p\u00E9riph\u00E9riques ait \u00E9t\u00E9 supprim\u00E9 via le Gestionnaire de p\u00E9riph\u00E9riques et qu'un r\u00E9amor\u00E7age soit n\u00E9cessaire pour achever l'installation du pilote de ce p\u00E9riph\u00E9rique.", // French
        L"Installazione non riuscita su almeno un dispositivo. Uno dei dispositivi potrebbe essere stato eliminato da Gestione periferiche e potrebbe essere necessario riavviare il computer per completare l'installazione del driver per questo dispositivo.", // Italian
        L"Die Installation auf mindestens einem Ger\u00E4t ist fehlgeschlagen. Vielleicht wurde ein Ger\u00E4t im Ger\u00E4te-Manager gel\u00F6scht, und der Computer mu\u00DF zur vollst\u00E4ndigen Installation des Treibers f\u00FCr dieses Ger\u00E4t neu gestartet werden.", // German
        L"La instalaci\u00F3n ha fallado en un dispositivo como m\u00EDnimo.  Quiz\u00E1 uno de los dispositivos se ha eliminado mediante el Administrador de dispositivos y es necesario volver a arrancar para finalizar la instalaci\u00F3n del controlador de este dispositivo.", // Spanish
        L"1\u3064\u4EE5\u4E0A\u306E\u30C7\u30D0\u30A4\u30B9\u3067\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u304C\u5931\u6557\u3057\u307E\u3057\u305F\u3002\u30C7\u30D0\u30A4\u30B9\u306E\u3046\u3061\u306E1\u3064\u304C\u30C7\u30D0\u30A4\u30B9 \u30DE\u30CD\u30FC\u30B8\u30E3\u306B\u3088\u3063\u3066\u524A\u9664\u3055\u308C\u305F\u53EF\u80FD\u6027\u304C\u3042\u308A\u3001\u3053\u306E\u30C7\u30D0\u30A4\u30B9\u306E\u30C9\u30E9\u30A4\u30D0\u306E\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u5B8C\u4E86\u3059\u308B\u306B\u306F\u3001\u518D\u8D77\u52D5\u304C\u5FC5\u8981\u306A\u5834\u5408\u304C\u3042\u308A\u307E\u3059\u3002", // Japanese
    },
    // 8 MSG_SHELLEXECUTE_FAILED
    {
        L"An error occurred during the ShellExecute command.", // English
        L"An error occurred during the ShellExecute command.", // French
        L"An error occurred during the ShellExecute command.", // Italian
        L"An error occurred during the ShellExecute command.", // German
        L"An error occurred during the ShellExecute command.", // Spanish
        L"An error occurred during the ShellExecute command.", // Japanese
    },
    // 9 MSG_NOT_INSTALLED
    {
        L"This package is not installed.", // English
        L"Ce package n'est pas install\u00E9.", // French
        L"Questo pacchetto non \u00E8 installato.", // Italian
        L"Dieses Paket ist nicht installiert.", // German
        L"Este paquete no est\u00E1 instalado.", // Spanish
        L"\u3053\u306E\u30D1\u30C3\u30B1\u30FC\u30B8\u306F\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3055\u308C\u3066\u3044\u307E\u305B\u3093\u3002", // Japanese
    },
    // 10 MSG_UNINSTALL_ERROR
    {
        L"An error occurred during uninstallation.", // English
        L"Erreur lors de la d\u00E9sinstallation", // French
        L"Si \u00E8 verificato un errore durante la disinstallazione.", // Italian
        L"W\u00E4hrend der Deinstallation ist ein Fehler aufgetreten", // German
        L"Se produjo un error durante la desinstalaci\u00F3n.", // Spanish
        L"\u30A2\u30F3\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u4E2D\u306B\u30A8\u30E9\u30FC\u304C\u767A\u751F\u3057\u307E\u3057\u305F\u3002", // Japanese
    },
    // 11 MSG_UNINSTALL_PARTIAL
    {
        L"The package was removed only in part. Run the uninstallation again to finish it.", // English
        L"Le package n'a \u00E9t\u00E9 supprim\u00E9 qu'en partie. Relancez la d\u00E9sinstallation pour l'achever.", // French
        L"Il pacchetto \u00E8 stato rimosso solo in parte. Eseguire di nuovo la disinstallazione per completarla.", // Italian
        L"Das Paket wurde nur teilweise entfernt. F\u00FChren Sie die Deinstallation erneut aus, um sie abzuschlie\u00DFen.", // German
        L"El paquete solo se quit\u00F3 en parte. Vuelva a ejecutar la desinstalaci\u00F3n para finalizarla.", // Spanish
        L"\u30D1\u30C3\u30B1\u30FC\u30B8\u306F\u4E00\u90E8\u3057\u304B\u524A\u9664\u3055\u308C\u307E\u305B\u3093\u3067\u3057\u305F\u3002\u30A2\u30F3\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3092\u3082\u3046\u4E00\u5EA6\u5B9F\u884C\u3057\u3066\u5B8C\u4E86\u3057\u3066\u304F\u3060\u3055\u3044\u3002", // Japanese
    },
    // 12 MSG_NO_DRIVER_LEFT
    {
        L"No other driver is available for device %s. The package was not uninstalled; uninstall it with force to leave the device without a driver.", // English
        L"Aucun autre pilote n'est disponible pour le p\u00E9riph\u00E9rique %s. Le package n'a pas \u00E9t\u00E9 d\u00E9sinstall\u00E9 ; forcez la d\u00E9sinstallation pour laisser le p\u00E9riph\u00E9rique sans pilote.", // French
        L"Nessun altro driver \u00E8 disponibile per il dispositivo %s. Il pacchetto non \u00E8 stato disinstallato; forzare la disinstallazione per lasciare il dispositivo senza driver.", // Italian
        L"F\u00FCr das Ger\u00E4t %s ist kein anderer Treiber verf\u00FCgbar. Das Paket wurde nicht deinstalliert; erzwingen Sie die Deinstallation, um das Ger\u00E4t ohne Treiber zu lassen.", // German
        L"No hay otro controlador disponible para el dispositivo %s. El paquete no se desinstal\u00F3; fuerce la desinstalaci\u00F3n para dejar el dispositivo sin controlador.", // Spanish
        L"\u30C7\u30D0\u30A4\u30B9 %s \u306B\u4F7F\u7528\u3067\u304D\u308B\u4ED6\u306E\u30C9\u30E9\u30A4\u30D0\u30FC\u304C\u3042\u308A\u307E\u305B\u3093\u3002\u30D1\u30C3\u30B1\u30FC\u30B8\u306F\u30A2\u30F3\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3055\u308C\u307E\u305B\u3093\u3067\u3057\u305F\u3002\u30C7\u30D0\u30A4\u30B9\u3092\u30C9\u30E9\u30A4\u30D0\u30FC\u306A\u3057\u306E\u307E\u307E\u306B\u3059\u308B\u306B\u306F\u3001\u5F37\u5236\u7684\u306B\u30A2\u30F3\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3057\u3066\u304F\u3060\u3055\u3044\u3002", // Japanese
    },
    // 13 MSG_LATER_VERSION_INSTALLED
    {
        L"Version %s of this package is installed over this one. Uninstall it first.", // English
        L"La version %s de ce package est install\u00E9e par-dessus celle-ci. D\u00E9sinstallez-la d'abord.", // French
        L"La versione %s di questo pacchetto \u00E8 installata sopra questa. Disinstallarla prima.", // Italian
        L"Version %s dieses Pakets ist \u00FCber dieser installiert. Deinstallieren Sie sie zuerst.", // German
        L"La versi\u00F3n %s de este paquete est\u00E1 instalada sobre esta. Desinst\u00E1lela primero.", // Spanish
        L"\u3053\u306E\u30D1\u30C3\u30B1\u30FC\u30B8\u306E\u30D0\u30FC\u30B8\u30E7\u30F3 %s \u304C\u3053\u306E\u30D0\u30FC\u30B8\u30E7\u30F3\u306E\u4E0A\u306B\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3055\u308C\u3066\u3044\u307E\u3059\u3002\u5148\u306B\u305D\u308C\u3092\u30A2\u30F3\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3057\u3066\u304F\u3060\u3055\u3044\u3002", // Japanese
    },
};

} // namespace

const wchar_t* GetMessageText(int message, int column)
{
    if (message < 0 || message >= MSG_COUNT)
        return L"";
    if (column < 0 || column >= LANG_COL_COUNT)
        column = LANG_COL_ENGLISH;
    return kMessages[message][column];
}

void FormatMessageText(wchar_t* buffer, const wchar_t* format, const wchar_t* argument)
{
    if (buffer == nullptr || format == nullptr)
        return;
    // The longest argument (a device instance ID) leaves the texts well
    // inside the host's buffer.
    FormatWideBuffer(buffer, ZOL_MESSAGE_CHARS, format, argument ? argument : L"");
}

void CopyMessageText(wchar_t* buffer, const wchar_t* text)
{
    if (buffer && text)
        wcscpy(buffer, text);
}
