// Placeholders until the main window's behaviour is built; each goes as its real definition lands.
#include "app/Mainform.h"
