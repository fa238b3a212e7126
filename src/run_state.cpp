#include "run_state.h"

static_assert(RX_BUF_LEN == COM_QUEUE_MAX + 1, "rx_buf holds a full queue and the zero after it");
static_assert(HEX_BUF_LEN == 3 * COM_QUEUE_MAX + 2 * ((COM_QUEUE_MAX + HEX_LINE_BYTES - 1) / HEX_LINE_BYTES) + 1,
              "hex_buf holds the hexadecimal text of a full queue");
static_assert(PORT_SLOTS == 19, "one NO_HANDLE a port below");
#define NO_HANDLE_PER_PORT                                                                              \
    {NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, \
     NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, NO_HANDLE, \
     NO_HANDLE}

int panelHandle;
int config_handle;
const int pc_idx[MAX_SLOT + 1] = {8, 8, 6, 5, 3, 4};
const int pl_idx[MAX_SLOT + 1] = {13, 13, 11, 9, 10, 7};
const int pf_idx[MAX_SLOT + 1] = {19, 19, 20, 21, 23, 22};

int baudrate[PORT_SLOTS];
int RS232Sel[PORT_SLOTS];
int RS232Disp[PORT_SLOTS];
int HEXDisp[PORT_SLOTS];
int RS232Err[PORT_SLOTS];

char base_dir[PATH_LEN];
int jday;
char data_dir[PATH_LEN];
char file_nm_base[FILE_BASE_LEN + 1];
char file_name[PORT_SLOTS][PATH_LEN];
int file_handle[PORT_SLOTS] = NO_HANDLE_PER_PORT;
int index_enabled = 1;
int index_handle[PORT_SLOTS] = NO_HANDLE_PER_PORT;
long long data_length[PORT_SLOTS];

int countdown_value = COUNTDOWN_START;
int run_going;
int logging_active;
int file_stat[PORT_SLOTS];
int paused_stat[PORT_SLOTS];
short hourly_mode;
int file_minutes;
int minutes_left;
int cur_hour, cur_min;
int file_hour;
int last_min;
short refresh_count;
unsigned char rx_buf[PORT_SLOTS][RX_BUF_LEN];
int port_set_up[PORT_SLOTS];
int in_q_len[PORT_SLOTS];
char hex_buf[PORT_SLOTS][HEX_BUF_LEN];
int have_cvted[PORT_SLOTS];
