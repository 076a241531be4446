// VeltronaVPNsrv: installs or removes itself from its command line, and runs
// as the VeltronaVPN service when the service control manager starts it.
#include "service/service_control_win.h"

int main(int argc, char** argv) { return veltrona::service::ServiceProgramMain(argc, argv); }
