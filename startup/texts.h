// The stub's own fixed texts, shown before any language of the data block is
// known: those of start-up and those of the data block reader. They are
// stored in Windows code page 1252; string literals are split after each \x
// escape so that a following letter is never read as a hex digit.
#pragma once

#define TEXT_START_CAPTION "ERREUR TARK"

#define TEXT_CANNOT_OPEN_SELF "Impossibe de m'ouvrir tout seul"

#define TEXT_VERIFICATION_FAILED                                                   \
    "Echec de la v\xE9" "rification de l'installation.\r\n\r\n"                   \
    "Ceca peut provenir d'un t\xE9" "l\xE9" "chargement incomplet,\r\n"           \
    "un disque d\xE9" "f\xE9" "ctueux, ou d'une (possible) corruption de la par " \
    "d'un virus.\r\n\r\n"                                                          \
    "Vous pouvez essayer de forcer l'installation en utilisant l'option /NCRC\r\n" \
    "en ligne de commande (mais ceci n'est PAS recommand\xE9" ")."

#define TEXT_UNINSTALL_INIT_FAILED "Erreur lors de l'initialisation de la d\xE9" "sinstallation"

#define TEXT_VERIFYING_FORMAT "V\xE9" "rification de l'installation: %d%%"

#define TEXT_CACHE_CREATE_FAILED "Erreur lors de l'\xE9" "criture du fichier temp"

#define TEXT_HEADER_READ_FAILED "Erreur lors de la lecture du block d'infos de l'installation"

#define TEXT_DECOMPRESSING_FORMAT "d\xE9" "compression: %d%%"
