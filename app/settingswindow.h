// How the program's windows come together: the player window's load routine opens the
// settings window of the web remote, which drives the player through its narrow interface.
// The program and the tests that start the whole program wire them the same way.
#pragma once

#include <memory>

class Form1;
class FrmSver;

// Has form1's load routine make the settings window into frmSver and show it, before the
// player window itself shows. frmSver is to be destroyed before form1.
void OpenSettingsOnLoad(Form1 &form1, std::unique_ptr<FrmSver> &frmSver);
