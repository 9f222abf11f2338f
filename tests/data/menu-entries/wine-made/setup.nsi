Unicode true
Target amd64-unicode
Name "FakeApp"
OutFile "setup-${TAG}.exe"
InstallDir "$PROGRAMFILES64\FakeApp"
RequestExecutionLevel user
SilentInstall silent
Section
  SetOutPath "$INSTDIR"
  File "FakeApp.exe"
  CreateDirectory "$SMPROGRAMS\FakeApp"
  CreateShortcut "$SMPROGRAMS\FakeApp\${LNK}.lnk" "$INSTDIR\FakeApp.exe" "" "$INSTDIR\FakeApp.exe" 0
  CreateShortcut "$DESKTOP\${LNK}.lnk" "$INSTDIR\FakeApp.exe" "" "$INSTDIR\FakeApp.exe" 0
  WriteRegStr HKCR ".${EXT}" "" "FakeApp.${EXT}file"
  WriteRegStr HKCR "FakeApp.${EXT}file" "" "FakeApp ${EXT} file"
  WriteRegStr HKCR "FakeApp.${EXT}file\DefaultIcon" "" "$INSTDIR\FakeApp.exe,0"
  WriteRegStr HKCR "FakeApp.${EXT}file\shell\open\command" "" '"$INSTDIR\FakeApp.exe" "%1"'
!ifdef SOLO
  SetOutPath "$PROGRAMFILES64\SoloApp"
  File "SoloApp.exe"
  CreateShortcut "$DESKTOP\SoloApp.lnk" "$PROGRAMFILES64\SoloApp\SoloApp.exe"
!endif
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
