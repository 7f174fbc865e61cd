#include "app/TextTable.h"

#include "app/AppState.h"

// The literals below are UTF-8; a compiler reading this file in another
// character set would garble the accented letters.
static_assert(sizeof("é") == 3, "source must be compiled as UTF-8");

// Texts are exact, trailing blanks included: callers append a release number
// behind row 3.
// clang-format off
const char *const TextTable[kTextRows * kLanguages] = {
    // 0
    "Waiting connection...",
    "Attente connection...",
    "Attesa connessione...",
    "Warte auf Verbindung...",
    "Oczekujące połączenie...",
    "Atendiendo conexion...",
    // 1
    "Hardware connected",
    "Matériel connecté",
    "Hardware connesso",
    "Hardware vebunden",
    "Urządzenie podłączone",
    "Unidad conectada",
    // 2
    "Configuration Error",
    "Erreur Configuration",
    "Errore di configurazione",
    "Konfigurationsfehler",
    "Błąd konfiguracji",
    "Error de configuracion",
    // 3
    "upgrade to release ",
    "mise à jour en version ",
    "Upgrade disponibile ",
    "Upgrade verfügbar ",
    "Dostępna wersja oprog. ",
    "Actualizar a la version ",
    // 4
    "write error !",
    "erreur écriture !",
    "Errore di scrittura !",
    "Schreibfehler !",
    "Błąd zapisu !",
    "Error de copia !",
    // 5
    "verification error !",
    "erreur vérification !",
    "Errore di verfica !",
    "Prüfungsfehler !",
    "Błąd weryfikacji !",
    "Compruebe error !",
    // 6
    "verifying...",
    "vérification...",
    "verifica...",
    "Überprüfung...",
    "weryffikacja...",
    "Comprobar...",
    // 7
    "Rebooting...",
    "Redémarrage...",
    "Riavvio...",
    "Neustart...",
    "Ponowny start...",
    "Reiniciar...",
    // 8
    "Writing, wait...",
    "Ecriture, attendre...",
    "Scrittura, attesa...",
    "Schreiben, warte...",
    "zapisu, Oczekujące...",
    "Copia, atendiendo...",
    // 9
    "Standard :",
    "Standard :",
    "Standard :",
    "Standard :",
    "Standard :",
    "Estand. :",
    // 10
    "Pict. Format :",
    "Format Image :",
    "Formato video :",
    "Bildformat :",
    "Format obrazu :",
    "Imag. form. :",
    // 11
    "Light :",
    "Lumière :",
    "Luminosità :",
    "Helligkeit :",
    "Jasność :",
    "Luz :",
    // 12
    "Contrast :",
    "Contraste :",
    "Contrasto :",
    "Kontrast :",
    "Kontrast :",
    "Contraste :",
    // 13
    "Saturation :",
    "Saturation :",
    "Saturazione :",
    "Sättigung :",
    "Nasycenie :",
    "Saturacion :",
    // 14
    "Freq. (kHz) :",
    "Fréq. (kHz) :",
    "Freq. (kHz) :",
    "Freq. (kHz) :",
    "Czest. (khz):",
    "Frec. (kHz) :",
    // 15
    "TS Id. :",
    "TS Id. :",
    "TS Id. :",
    "TS. Id. :",
    "TS. Id. :",
    "TS Id. :",
    // 16
    "Mode :",
    "Mode :",
    "Modo :",
    "Modus :",
    "Tryb :",
    "Moda :",
    // 17
    "Const. :",
    "Const. :",
    "Const. :",
    "Konst. :",
    "Konst. :",
    "Const. :",
    // 18
    "Bandwidth :",
    "L. Bande :",
    "Banda :",
    "Bandbreite :",
    "Pasmo :",
    "Banda :",
    // 19
    "F.E.C. :",
    "F.E.C. :",
    "F.E.C. :",
    "F.E.C. :",
    "F.E.C. :",
    "F.E.C. :",
    // 20
    "Guard Int. :",
    "Int. Garde :",
    "Int. guardia :",
    "Guard Int. :",
    "G. Interwal :",
    "Int. Guarde :",
    // 21
    "Level Att. :",
    "Niveau Att. :",
    "Att. Livello :",
    "Pegelsteller :",
    "TLum. :",
    "Att. nivel :",
    // 22
    "Network",
    "Réseau",
    "Rete",
    "Netzwerk",
    "Sieć",
    "Red",
    // 23
    "Original Id. :",
    "Original Id. :",
    "Original Id. :",
    "Original Id. :",
    "Original Id. :",
    "Original Id. :",
    // 24
    "Id. :",
    "Id. :",
    "Id. :",
    "Id. :",
    "Id. :",
    "Id. :",
    // 25
    "Name :",
    "Nom :",
    "Nome :",
    "Name :",
    "Nazwa :",
    "Nombre :",
    // 26
    "Service",
    "Programme",
    "Programma",
    "Service",
    "Program",
    "Programa",
    // 27
    "L.C.N. :",
    "L.C.N :",
    "L.C.N. :",
    "L.C.N. :",
    "L.C.N. :",
    "L.C.N. :",
    // 28
    "PMT PID :",
    "PMT PID :",
    "PMT PID :",
    "PMT PID :",
    "PMT PID :",
    "PMT PID :",
    // 29
    "Video PID:",
    "Vidéo PID :",
    "Video PID :",
    "Video PID :",
    "Video PID :",
    "Video PID:",
    // 30
    "Audio PID :",
    "Audio PID :",
    "Audio PID :",
    "Audio PID :",
    "Audio PID :",
    "Audio PID :",
};
// clang-format on

QString GetText(int row)
{
    if (row < 0 || row >= kTextRows || LanguageIndex < 0 || LanguageIndex >= kLanguages)
        return QString();
    return QString::fromUtf8(TextTable[row * kLanguages + LanguageIndex]);
}
