/* The state a simulated printer node shares between the simulator and the processes that
 * use the node, in a small file that both map: per node, what the host has submitted and
 * what the printer has taken, who holds the node open, and the one chunk in flight.
 *
 * This is how usblp behaves, and what the simulator plays through it:
 *  - one open of a node at a time; a second one fails with EBUSY until the holder's last
 *    close (or its end);
 *  - a write submits one chunk of at most 8192 bytes and, on a non-blocking descriptor,
 *    returns its count at once, trusting the transfer to complete; the next write fails
 *    with EAGAIN while that chunk is still in flight. A blocking write waits for each
 *    chunk to complete before it submits the next and before it returns;
 *  - poll() reports POLLOUT only when the last chunk has completed;
 *  - the last close of the open kills the transfer in flight: the bytes the printer has
 *    not taken are lost.
 *
 * The host's side (the preload library in the command's processes) submits chunks and
 * closes; the simulator's side takes bytes at the printer's pace. Both meet in one 64-bit
 * word per node, "progress": the bytes taken, the session (one per open) and a closed
 * flag. The simulator takes with a compare-and-exchange on it, and the closer sets the
 * flag with one, so a close and a take can never both win: the bytes a close drops are
 * exactly those the printer had not taken.
 *
 * Plain C, so that the preload library (C, loaded into any process) and the simulator
 * (C++) share one layout; every shared field is read and written with the compiler's
 * __atomic built-ins. */
#ifndef VRQ_PRINTER_SIM_USBLP_STATE_H
#define VRQ_PRINTER_SIM_USBLP_STATE_H

#include <stdint.h>

/* COMMAND finds the folder of the shared files in this environment variable. */
#define VRQ_USBLP_VARIABLE "VRQ_PRINTER_SIM_USBLP"
/* The files in that folder: the state, and a FIFO on which a byte tells the simulator
 * that a chunk has been submitted, so that it does not have to look all the time. */
#define VRQ_USBLP_STATE_FILE "state"
#define VRQ_USBLP_BELL_FILE "bell"

#define VRQ_USBLP_MAGIC 0x4C425355u /* "USBL" */
#define VRQ_USBLP_VERSION 1u
/* Nodes /dev/usb/lp0 to lp31. */
#define VRQ_USBLP_NODES 32
/* usblp's USBLP_BUF_SIZE: the most one transfer carries. */
#define VRQ_USBLP_CHUNK 8192
#define VRQ_USBLP_PTY_NAME 40

/* The progress word. */
#define VRQ_USBLP_CLOSED (UINT64_C(1) << 63)
#define VRQ_USBLP_SESSION_SHIFT 48
#define VRQ_USBLP_SESSION_MASK UINT64_C(0x7FFF)
#define VRQ_USBLP_TAKEN_MASK ((UINT64_C(1) << VRQ_USBLP_SESSION_SHIFT) - 1)

struct vrq_usblp_node {
  /* Which node is at /dev/usb/lpN now: a number the simulator gives each node it makes,
   * 0 while there is none. A descriptor opened on an earlier node finds the printer gone. */
  uint32_t node;
  /* Sessions handed out so far on this slot (never reset, so that a session number does
   * not come back soon). */
  uint32_t sessions;
  /* The process that holds the node open, 0 for none. */
  int32_t owner;
  /* Length of the last chunk submitted, and where it starts in the byte stream. */
  uint32_t chunk_length;
  uint64_t chunk_start;
  /* Bytes submitted on this node since it was made, over all its sessions. */
  uint64_t submitted;
  /* VRQ_USBLP_CLOSED | session << VRQ_USBLP_SESSION_SHIFT | bytes taken (or dropped at a
   * close) since the node was made. A new session starts with taken = submitted. */
  uint64_t progress;
  /* CLOCK_MONOTONIC times, in nanoseconds: the last chunk's submission and the last close. */
  uint64_t submitted_ns;
  uint64_t closed_ns;
  /* The name of the pseudo-terminal behind the node ("/dev/pts/3"): a descriptor that
   * survived an exec is found by it. */
  char pty[VRQ_USBLP_PTY_NAME];
  uint8_t chunk[VRQ_USBLP_CHUNK];
};

struct vrq_usblp_state {
  uint32_t magic;
  uint32_t version;
  uint32_t node_count;
  uint32_t reserved;
  struct vrq_usblp_node nodes[VRQ_USBLP_NODES];
};

static inline uint64_t vrq_usblp_taken(uint64_t progress) {
  return progress & VRQ_USBLP_TAKEN_MASK;
}

static inline uint32_t vrq_usblp_session(uint64_t progress) {
  return (uint32_t)((progress >> VRQ_USBLP_SESSION_SHIFT) & VRQ_USBLP_SESSION_MASK);
}

static inline uint64_t vrq_usblp_progress(uint32_t session, uint64_t taken, int closed) {
  return (closed ? VRQ_USBLP_CLOSED : 0) |
         ((uint64_t)(session & VRQ_USBLP_SESSION_MASK) << VRQ_USBLP_SESSION_SHIFT) |
         (taken & VRQ_USBLP_TAKEN_MASK);
}

#endif
