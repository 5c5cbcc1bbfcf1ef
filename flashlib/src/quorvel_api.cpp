#include "brindlex/quorvel_api.h"

#include "brindlex/flash_api.h"
#include "brindlex/trg_connect_ctrl.h"

CQuorvelApi ApiObj;

CQuorvelApi::CQuorvelApi() : trgConnect(nullptr) {}

CTrgConnectCtrl* CQuorvelApi::GetTrgConnect() {
    return trgConnect;
}

void CQuorvelApi::SetTrgConnect(CTrgConnectCtrl* connect) {
    trgConnect = connect;
}
