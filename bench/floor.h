/* The floor of the end-to-end benchmark: the least a program can do for one
   exchange under the driver's rules. It writes the request, then makes one
   poll() and one read() of one byte per answer byte, with a per-byte
   time-out, and stops at the closing '}'. Plain C with no state of its own,
   so that what it costs is the line's cost and nothing else. */
#ifndef TARVO_BENCH_FLOOR_H
#define TARVO_BENCH_FLOOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the slave side of the printer's line as the driver does (raw,
   non-blocking). Returns the descriptor or -1. */
int floor_open(const char *path);
void floor_close(int fd);

/* One LeTexto exchange with frame id `id` (1..255): writes
   {id;LeTexto;NomeTexto="NumeroSerieECF";length}, reads the answer one byte
   at a time, skipping noise before '{', and checks its id and code. Returns
   the number of answer bytes read (the frame), or -1 on a time-out, a read
   error, a frame that does not fit `cap`, or an answer other than a success
   with this id. The answer is stored in answer[cap], zero-terminated. */
int floor_exchange(int fd, int id, int timeout_ms, char *answer, int cap);

/* The request frame floor_exchange writes for `id`, into out[cap]; returns
   its length. */
int floor_request(int id, char *out, int cap);

#ifdef __cplusplus
}
#endif

#endif
