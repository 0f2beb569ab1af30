// heLiXIA: the diffusion-MRI analyzer plug-in, started by the host with its client number.
#include "analyzer/app/gtk/gtk_frontend.h"

int main(int argc, char** argv) { return run_helixia_gtk(argc, argv); }
