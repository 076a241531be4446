// Identifiers of the client's resources, shared by the resource script and
// the code. Plain macros: the resource compiler reads this file too.
#pragma once

#define IDI_VELTRONA 107

// The login-failed dialog: its link to the account page.
#define IDD_LOGIN_FAILED 146
#define IDC_LOGIN_FAILED_LINK 1030
