; The installer's job done with the peer installer system, for the benchmark only: a welcome
; page, a directory page and a progress page that copies the twenty files of the install
; manifest from the installer's own folder to their destination names (the DATA folder
; included), one shortcut in the Programs folder, and the final message.
;
;   makensis -DTARGET=x86-unicode|amd64-unicode -DOUTFILE=<exe> -DMANIFEST=<copies.nsh> quorvant.nsi
;
; bench/run.py writes MANIFEST from the installer's own manifest, so both do the same copies.

Unicode true
Target ${TARGET}
SetCompressor zlib
Name "Quorvant '99"
OutFile "${OUTFILE}"
!if ${TARGET} == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\Quorvant '99"
!else
  InstallDir "$PROGRAMFILES\Quorvant '99"
!endif
RequestExecutionLevel admin

!include "MUI2.nsh"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section
  SetAutoClose true
  CreateDirectory "$INSTDIR\DATA"
  !include "${MANIFEST}"
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\Quorvant '99.lnk" "$INSTDIR\QV99.EXE" "" "$INSTDIR\QV99.EXE" 0 \
    SW_SHOWNORMAL "" "Quorvant '99"
  MessageBox MB_OK|MB_ICONEXCLAMATION "Quorvant '99 Installation Complete!"
SectionEnd
