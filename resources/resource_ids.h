/* Resource identifiers shared by setup.rc and the installer's C++ code. */
#ifndef SETUP_RESOURCE_IDS_H
#define SETUP_RESOURCE_IDS_H

#define IDI_PROGRAM 1   /* program icon: 32x32 and 16x16, 16 colours */
#define IDB_WELCOME 101 /* welcome picture: 130x194, 8 bpp, 128 colours */
#define IDB_DRIVE   102 /* drive picture: 31x20, 24 bpp */

#endif
