// Runs tarvo-emu (path in TARVO_EMU) on a pseudo-terminal for a test.

using System;
using System.Diagnostics;
using System.IO;
using System.Text;
using System.Text.RegularExpressions;

namespace Tarvo.Tests
{
    /// <summary>One emulator process: Path is the device the driver opens.</summary>
    /// <remarks>Arm(fault) applies a fault through the control FIFO and
    /// returns once the emulator has acknowledged it, so that it applies to
    /// every request sent afterwards; Requests() lists the request frames
    /// received; Paper() is what it printed so far. The paper
    /// and the frame log of a request are written before its answer is
    /// sent, so both are complete once a command returned.</remarks>
    sealed class Emulator : IDisposable
    {
        const int StartTimeoutMs = 10000;
        // A generous bound: the emulator answers at its next turn, but a
        // loaded machine may not run it for a while.
        const int AckTimeoutMs = 30000;

        readonly string dir, control, ack, paper, log;
        readonly Process process;
        StreamReader acks;
        public readonly string Path;

        public Emulator(params string[] args)
        {
            dir = System.IO.Path.Combine(System.IO.Path.GetTempPath(), "tarvo-emu-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(dir);
            control = System.IO.Path.Combine(dir, "control");
            ack = System.IO.Path.Combine(dir, "control.ack");
            paper = System.IO.Path.Combine(dir, "paper.txt");
            log = System.IO.Path.Combine(dir, "frames.log");
            // Through sh, so that the frame log goes straight to a file: a
            // pipe read by this process could lag behind the answers.
            var command = new StringBuilder("exec " + Quote(Environment.GetEnvironmentVariable("TARVO_EMU")));
            command.Append(" --paper " + Quote(paper) + " --control " + Quote(control) + " --ack " + Quote(ack));
            foreach (string a in args) command.Append(" " + Quote(a));
            command.Append(" </dev/null 2>" + Quote(log));
            var start = new ProcessStartInfo("/bin/sh", "-c \"" + command + "\"") {
                UseShellExecute = false,
                RedirectStandardOutput = true,
            };
            process = Process.Start(start);
            try {
                Path = FirstLine();
                // The emulator holds its FIFOs open for reading and writing,
                // so this open never waits. Every Arm reads exactly its own
                // acknowledgement, so none is ever left for the next one.
                acks = new StreamReader(new FileStream(ack, FileMode.Open, FileAccess.Read), Encoding.ASCII);
            } catch {
                Dispose();
                throw;
            }
        }

        static string Quote(string text)
        {
            if (text.IndexOfAny(new[] { '\'', '"', '\\', '$', '`' }) >= 0)
                throw new ArgumentException("unexpected character in " + text);
            return "'" + text + "'";
        }

        string FirstLine()
        {
            var read = process.StandardOutput.ReadLineAsync();
            if (!read.Wait(StartTimeoutMs)) throw new Exception("tarvo-emu printed no device path in time");
            string line = read.Result;
            if (line == null) throw new Exception("tarvo-emu ended: " + Log());
            line = line.Trim();
            if (!line.Contains("/dev/")) throw new Exception("tarvo-emu: unexpected first line " + line);
            return line;
        }

        public void Arm(string fault)
        {
            // The emulator holds the FIFO open for reading and writing, so
            // this open never waits.
            using (var fifo = new FileStream(control, FileMode.Open, FileAccess.Write)) {
                byte[] line = Encoding.ASCII.GetBytes(fault + "\n");
                fifo.Write(line, 0, line.Length);
            }
            var read = acks.ReadLineAsync();
            if (!read.Wait(AckTimeoutMs)) throw new Exception("tarvo-emu did not acknowledge " + fault);
            if (read.Result != "ok " + fault)
                throw new Exception(string.Format("tarvo-emu did not arm {0}: {1} {2}", fault, read.Result, Log()));
        }

        public string Log() { return File.Exists(log) ? File.ReadAllText(log, Encoding.UTF8) : ""; }

        /// <summary>The request frames received, as logged ("{id;Comando;params;n}").</summary>
        public string[] Requests()
        {
            var found = Regex.Matches(Log(), @"^<- (\{.*\})$", RegexOptions.Multiline);
            var frames = new string[found.Count];
            for (int i = 0; i < found.Count; i++) frames[i] = found[i].Groups[1].Value;
            return frames;
        }

        public string Paper() { return File.Exists(paper) ? File.ReadAllText(paper, Encoding.UTF8) : ""; }

        public void Dispose()
        {
            if (!process.HasExited) {
                process.Kill();
                process.WaitForExit();
            }
            process.Dispose();
            if (acks != null) acks.Dispose();
            Directory.Delete(dir, true);
        }
    }
}
