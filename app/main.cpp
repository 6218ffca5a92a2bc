#include "app/main_app.h"

int main(int argc, char** argv) { return rk::CMainApp::Run(argc, argv); }
